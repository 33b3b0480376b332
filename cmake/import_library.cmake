# Makes the import library of a 32-bit DLL linked with --kill-at: from the linker's list of
# exports, "Name = Name@N @ordinal" for a __stdcall function and "Name @ordinal" for any other
# (a __cdecl function, a C++ function), a list of the names as compiled, which dlltool
# --kill-at turns into an import library that binds "_Name@N" and "_Name" to the export "Name".
# Variables: DLLTOOL, LINKER_DEF, DLL_NAME, IMPORT_LIBRARY.
file(STRINGS ${LINKER_DEF} lines)
set(decorated "EXPORTS\n")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*[A-Za-z0-9_]+[ \t]*=[ \t]*([A-Za-z0-9_@]+)")
        string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^[ \t]*([A-Za-z0-9_]+)[ \t]+@[0-9]+")
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
