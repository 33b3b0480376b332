# Makes the import library of a 32-bit DLL linked with --kill-at: from the linker's list
# "Name = Name@N @ordinal", a list of decorated names, which dlltool --kill-at turns into an
# import library that binds "_Name@N" to the export "Name".
# Variables: DLLTOOL, LINKER_DEF, DLL_NAME, IMPORT_LIBRARY.
file(STRINGS ${LINKER_DEF} lines)
set(decorated "EXPORTS\n")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*[A-Za-z0-9_]+[ \t]*=[ \t]*([A-Za-z0-9_@]+)")
        string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
    endif()
endforeach()
file(WRITE ${LINKER_DEF}.decorated ${decorated})
execute_process(
    COMMAND ${DLLTOOL} --kill-at --input-def ${LINKER_DEF}.decorated --dllname ${DLL_NAME}
            --output-lib ${IMPORT_LIBRARY}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make ${IMPORT_LIBRARY}")
endif()
