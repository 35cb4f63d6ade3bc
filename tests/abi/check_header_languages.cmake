# Compiles the C header test with gcc and clang in every language mode the
# header promises (C99, C11, C++11, C++17, C++20), warnings as errors.
#   -DSOURCE=c_header_test.c -DINCLUDE_DIR=include -DGCC=... -DCLANG=...
foreach(family GCC CLANG)
  if(NOT ${family} OR NOT EXISTS "${${family}}")
    message(FATAL_ERROR "no ${family} compiler (${${family}}): scripts/setup-deps installs it")
  endif()
endforeach()
set(failed "")
foreach(compiler ${GCC} ${CLANG})
  foreach(mode c:c99 c:c11 c++:c++11 c++:c++17 c++:c++20)
    string(REPLACE ":" ";" mode "${mode}")
    list(GET mode 0 language)
    list(GET mode 1 standard)
    # -x chooses the language; gcc and clang drive either from the same program.
    execute_process(COMMAND ${compiler} -x ${language} -std=${standard} -Wall -Wextra -Wpedantic -Werror
                            -fsyntax-only -I${INCLUDE_DIR} ${SOURCE}
                    RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      string(APPEND failed "\n${compiler} -std=${standard}:\n${error}")
    endif()
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "the header does not compile cleanly:${failed}")
endif()
