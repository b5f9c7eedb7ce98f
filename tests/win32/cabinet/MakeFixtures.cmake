# Makes the cabinets of the extraction tests with gcab, from files written here, and keeps the
# files beside them to compare with: cmake -DGCAB=... -DOUTPUT=DIR -P MakeFixtures.cmake
file(REMOVE_RECURSE "${OUTPUT}")
file(MAKE_DIRECTORY "${OUTPUT}")

function(make_cabinet cabinet directory)
    cmake_parse_arguments(C "ZIP" "" "FILES" ${ARGN})
    set(options -c -n)
    if(C_ZIP)
        list(APPEND options -z)
    endif()
    execute_process(COMMAND "${GCAB}" ${options} "${OUTPUT}/${cabinet}" ${C_FILES}
        WORKING_DIRECTORY "${directory}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gcab could not make ${cabinet}")
    endif()
endfunction()

# More files than the installer records: 300, MSZIP, each of its own length.
set(many "${OUTPUT}/many")
file(MAKE_DIRECTORY "${many}")
set(names "")
foreach(i RANGE 1 300)
    string(LENGTH "000${i}" length)
    math(EXPR start "${length} - 3")
    string(SUBSTRING "000${i}" ${start} 3 number)
    math(EXPR repeat "${i} % 7 + 1")
    string(REPEAT "file ${number} of 300\n" ${repeat} content)
    file(WRITE "${many}/many-${number}.txt" "${content}")
    list(APPEND names "many-${number}.txt")
endforeach()
make_cabinet(many.cab "${many}" ZIP FILES ${names})

# Put in front of every test cabinet: a position that misses the cabinet's offset finds it.
set(decoy "${OUTPUT}/decoy")
file(MAKE_DIRECTORY "${decoy}")
file(WRITE "${decoy}/decoy.txt" "not the cabinet under test\n")
make_cabinet(decoy.cab "${decoy}" FILES decoy.txt)

# A stored name of 180 characters, for the length limit of the target path.
set(long "${OUTPUT}/long")
file(MAKE_DIRECTORY "${long}")
string(REPEAT "n" 176 stem)
file(WRITE "${long}/${stem}.txt" "a long name\n")
make_cabinet(long-name.cab "${long}" FILES "${stem}.txt")

# A file named like the joined package of a multi-volume installer, which lies in the work
# directory itself.
set(clash "${OUTPUT}/clash")
file(MAKE_DIRECTORY "${clash}")
file(WRITE "${clash}/first.txt" "extracted before the clash\n")
file(WRITE "${clash}/Quarvel.pkg" "must not replace the package\n")
make_cabinet(package-name.cab "${clash}" ZIP FILES first.txt Quarvel.pkg)
