# Where systemd's files go, relative to the install prefix. Reads PKG_CONFIG_FOUND,
# PKG_CONFIG_EXECUTABLE and CMAKE_INSTALL_PREFIX; needs no project, so that a test can
# run it as a script.

# A directory that systemd's pkg-config file names, relative to the install prefix: the file's
# own prefixes are replaced by ours, so that the answer lies under it. Without pkg-config or
# systemd, or when the answer still lies elsewhere, the fallback. -D<var>=DIR overrides both.
function(quilm_systemd_dir var pc_variable fallback)
    if(DEFINED ${var})
        return()
    endif()
    set(dir ${fallback})
    if(PKG_CONFIG_FOUND)
        execute_process(
            COMMAND ${PKG_CONFIG_EXECUTABLE} --variable=${pc_variable}
                    --define-variable=prefix=${CMAKE_INSTALL_PREFIX}
                    --define-variable=rootprefix=${CMAKE_INSTALL_PREFIX}
                    --define-variable=root_prefix=${CMAKE_INSTALL_PREFIX} systemd
            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
        if(NOT failed AND IS_ABSOLUTE "${found}")
            cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${found}" NORMALIZE inside)
            if(inside)
                file(RELATIVE_PATH dir ${CMAKE_INSTALL_PREFIX} ${found})
            endif()
        endif()
    endif()
    set(${var} ${dir} PARENT_SCOPE)
endfunction()
