# qvx3_plain_exports(target def_file): a DLL without the "lib" prefix that exports its
# functions under their plain C names (the export check holds it to `def_file`).
#
# 32-bit __stdcall functions are "_Name@N" to the compiler. There the DLL is linked with
# --kill-at, which drops the "@N" from the export table, and its import library is then made
# anew by dlltool from the names as compiled that the linker wrote out (decorated or not: the
# adapter may be built __cdecl, and the scripted adapter exports C++ functions too), so that
# callers' references bind to the plain names (the linker's own import library has plain names only,
# and so has one made from a .def file of plain names). Elsewhere nothing is decorated and
# the .def file is the export list itself.
set(QVX3_IMPORT_LIBRARY_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/import_library.cmake)

function(qvx3_plain_exports target def_file)
    set_target_properties(${target} PROPERTIES PREFIX "")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        if(NOT CMAKE_DLLTOOL)
            message(FATAL_ERROR "dlltool is needed for 32-bit DLLs (set CMAKE_DLLTOOL)")
        endif()
        set(decorated ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
        target_link_options(${target} PRIVATE LINKER:--kill-at LINKER:--output-def=${decorated})
        # A change of the script makes the import library anew.
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QVX3_IMPORT_LIBRARY_SCRIPT})
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -DDLLTOOL=${CMAKE_DLLTOOL} -DLINKER_DEF=${decorated}
                    -DDLL_NAME=$<TARGET_FILE_NAME:${target}>
                    -DIMPORT_LIBRARY=$<TARGET_LINKER_FILE:${target}>
                    -P ${QVX3_IMPORT_LIBRARY_SCRIPT}
            VERBATIM)
    elseif(def_file)
        target_sources(${target} PRIVATE ${def_file})
    endif()
endfunction()
