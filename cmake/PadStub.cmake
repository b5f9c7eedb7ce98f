# cmake -DIMAGE=stripped.exe -DOUTPUT=quarvel-stub.exe -DLAYOUT=layout.h -DSIZE_FILE=f -P PadStub.cmake
# The package starts at a fixed offset, so the stub must be exactly that long: pad the stripped
# image with zeros, and fail when it does not fit.
file(STRINGS "${LAYOUT}" offset_line REGEX "constexpr uint32_t packageOffset = [0-9]+;")
string(REGEX MATCH "= ([0-9]+)" budget_match "${offset_line}")
set(budget "${CMAKE_MATCH_1}")
if(NOT budget)
    message(FATAL_ERROR "PadStub: packageOffset not found in ${LAYOUT}")
endif()
file(SIZE "${IMAGE}" size)
if(size GREATER budget)
    math(EXPR over "${size} - ${budget}")
    message(FATAL_ERROR "The stub image is ${size} bytes, ${over} over its budget of ${budget} "
                        "bytes (packageOffset). Make the stub smaller.")
endif()
file(COPY_FILE "${IMAGE}" "${OUTPUT}")
execute_process(COMMAND truncate -s ${budget} "${OUTPUT}" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "PadStub: could not pad ${OUTPUT}")
endif()
file(WRITE "${SIZE_FILE}" "${size}\n")
message(STATUS "quarvel-stub.exe: ${size} of ${budget} bytes used, padded to ${budget}")
