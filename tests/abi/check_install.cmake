# Installs the project into a scratch prefix and builds the C example against
# the installed header and library through pkg-config, as a host application
# would; the example must link and load the library by its soname.
set(prefix ${BINARY_DIR}/install-check)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${error}")
endif()
foreach(installed include/vkr_preview.h lib/libvkr_preview.so.0 lib/pkgconfig/vkr_preview.pc)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND pkg-config --define-prefix --cflags --libs vkr_preview
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know the installed vkr_preview")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${C_COMPILER} -std=c99 -Wall -Werror ${SOURCE} ${flags} -Wl,-rpath,${prefix}/lib
                        -o ${prefix}/site_reader
                RESULT_VARIABLE result ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the example does not build against the installed library: ${error}")
endif()
# Without arguments the example prints its usage and exits 2: it ran, so the
# loader found libvkr_preview.so.0.
execute_process(COMMAND ${prefix}/site_reader RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT result EQUAL 2)
  message(FATAL_ERROR "the installed example did not run (${result}): ${error}")
endif()
file(REMOVE_RECURSE ${prefix})
