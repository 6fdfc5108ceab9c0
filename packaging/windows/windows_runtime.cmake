# For a Windows build: where the DLLs the programs load are (Qt's from the Qt build found, MinGW's
# runtime from the compiler), and, when cross-building, the runner of Windows programs under Wine
# that CTest uses for every test (CMAKE_CROSSCOMPILING_EMULATOR).
get_filename_component(VELTRA_QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)
set(VELTRA_QT_BIN ${VELTRA_QT_PREFIX}/bin)
set(VELTRA_QT_PLUGINS ${VELTRA_QT_PREFIX}/plugins)

set(VELTRA_WINDOWS_RUNTIME_DLLS "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}")
        # The compiler does not know the threads library's DLL: it lives in the target's lib folder.
        find_file(found_${dll} ${dll} PATHS /usr/${VELTRA_MINGW_TRIPLE}/lib NO_DEFAULT_PATH)
        set(found ${found_${dll}})
    endif()
    if(NOT EXISTS "${found}")
        message(FATAL_ERROR "MinGW's ${dll} was not found")
    endif()
    list(APPEND VELTRA_WINDOWS_RUNTIME_DLLS ${found})
endforeach()

if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(dll_dirs ${VELTRA_QT_BIN})
    foreach(dll IN LISTS VELTRA_WINDOWS_RUNTIME_DLLS)
        get_filename_component(dir ${dll} DIRECTORY)
        list(APPEND dll_dirs ${dir})
    endforeach()
    list(REMOVE_DUPLICATES dll_dirs)
    # Wine reads WINEPATH as a Windows search path: the Linux folders through drive Z:.
    list(TRANSFORM dll_dirs PREPEND "Z:")
    string(REPLACE "/" "\\\\" VELTRA_WINE_PATH "${dll_dirs}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
