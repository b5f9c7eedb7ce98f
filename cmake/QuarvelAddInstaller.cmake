# quarvel_add_installer(<target>
#     NAME <name>                   the application's name (Add/Remove Programs, Start menu)
#     [VERSION <version>]           default: the project's version
#     [PUBLISHER <publisher>] [INSTALL_DIR <folder under Program Files>]
#     [OUTPUT <file>]               default: <target>.exe in the current binary directory
#     [TARGETS <target>...]         programs and DLLs of the project, at the top of the tree
#     [FILES <file>...]             more files at the top of the tree
#     [DIRECTORIES <dir>...]        folders copied into the tree, contents and all
#     [SHORTCUTS <label=path>...]   Start-menu shortcuts to files of the tree
#     [RUN_AFTER <path>] [TITLE <text>] [MESSAGE <file>] [LICENCE <file>]
#     [COMPLETION] [ADVPACK] [REQUIRE_ADMIN]
#     [OPTIONS <option>...])        any further `quarvel pack` options
#
# A target, built with the project's `all`, that packs the tree into an installer with
# `quarvel pack --app`, again whenever one of its inputs changes.
function(quarvel_add_installer target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "COMPLETION;ADVPACK;REQUIRE_ADMIN"
        "NAME;VERSION;PUBLISHER;INSTALL_DIR;OUTPUT;RUN_AFTER;TITLE;MESSAGE;LICENCE"
        "TARGETS;FILES;DIRECTORIES;SHORTCUTS;OPTIONS")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "quarvel_add_installer: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_NAME)
        message(FATAL_ERROR "quarvel_add_installer(${target}): NAME is required")
    endif()
    if(NOT DEFINED arg_VERSION AND PROJECT_VERSION)
        set(arg_VERSION "${PROJECT_VERSION}")
    endif()
    if(NOT arg_OUTPUT)
        set(arg_OUTPUT "${target}.exe")
    endif()
    get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    set(tree "${CMAKE_CURRENT_BINARY_DIR}/${target}-tree")

    # The tree is made anew for every packing, so that nothing stale goes in.
    set(commands COMMAND "${CMAKE_COMMAND}" -E rm -rf "${tree}"
                 COMMAND "${CMAKE_COMMAND}" -E make_directory "${tree}")
    set(depends "$<TARGET_FILE:Quarvel::quarvel>")
    foreach(program IN LISTS arg_TARGETS)
        list(APPEND commands COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:${program}>" "${tree}/")
        list(APPEND depends ${program})
    endforeach()
    foreach(file IN LISTS arg_FILES)
        get_filename_component(file "${file}" ABSOLUTE)
        list(APPEND commands COMMAND "${CMAKE_COMMAND}" -E copy "${file}" "${tree}/")
        list(APPEND depends "${file}")
    endforeach()
    foreach(directory IN LISTS arg_DIRECTORIES)
        get_filename_component(directory "${directory}" ABSOLUTE)
        get_filename_component(name "${directory}" NAME)
        list(APPEND commands COMMAND "${CMAKE_COMMAND}" -E copy_directory "${directory}" "${tree}/${name}")
        file(GLOB_RECURSE contents CONFIGURE_DEPENDS "${directory}/*")
        list(APPEND depends ${contents})
    endforeach()

    set(pack pack --quiet -o "${output}" --app "${tree}" --name "${arg_NAME}")
    foreach(option VERSION PUBLISHER INSTALL_DIR RUN_AFTER TITLE)
        if(DEFINED arg_${option} AND NOT arg_${option} STREQUAL "")
            string(TOLOWER "--${option}" flag)
            string(REPLACE "_" "-" flag "${flag}")
            list(APPEND pack "${flag}" "${arg_${option}}")
        endif()
    endforeach()
    foreach(option MESSAGE LICENCE)
        if(arg_${option})
            get_filename_component(file "${arg_${option}}" ABSOLUTE)
            string(TOLOWER "--${option}" flag)
            list(APPEND pack "${flag}" "${file}")
            list(APPEND depends "${file}")
        endif()
    endforeach()
    foreach(shortcut IN LISTS arg_SHORTCUTS)
        list(APPEND pack --shortcut "${shortcut}")
    endforeach()
    foreach(flag COMPLETION ADVPACK REQUIRE_ADMIN)
        if(arg_${flag})
            string(TOLOWER "--${flag}" option)
            string(REPLACE "_" "-" option "${option}")
            list(APPEND pack "${option}")
        endif()
    endforeach()
    list(APPEND pack ${arg_OPTIONS})

    add_custom_command(OUTPUT "${output}" ${commands}
        COMMAND Quarvel::quarvel ${pack}
        DEPENDS ${depends}
        COMMENT "Packing ${arg_NAME} into ${output}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
