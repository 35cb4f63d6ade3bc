# Flags every target of the project is built with.
#
# -ffp-contract=off: floating point is evaluated exactly as written (no fused
# multiply-add), because the media decoders compare sums of products that must
# agree bit for bit with other implementations. Never add -ffast-math or -Ofast.
add_compile_options(
  -Wall -Wextra -Wpedantic -Werror
  -Wshadow -Wimplicit-fallthrough -Wcast-align
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  -ffp-contract=off
  # Designated initializers leave members at their defaults on purpose.
  -Wno-missing-field-initializers
  -fno-plt
)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wlogical-op -Wduplicated-cond)
endif()

set(VKR_SANITIZE "" CACHE STRING "Sanitizers to build with: asan (address+undefined), tsan (thread), fuzz (libFuzzer coverage + asan/ubsan), coverage (clang source-based coverage of the fuzz targets) or empty")
if(VKR_SANITIZE STREQUAL "asan")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(VKR_SANITIZE STREQUAL "tsan")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(VKR_SANITIZE STREQUAL "fuzz")
  # Libraries are instrumented for coverage; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VKR_SANITIZE STREQUAL "coverage")
  add_compile_options(-fprofile-instr-generate -fcoverage-mapping)
  add_link_options(-fprofile-instr-generate -fcoverage-mapping)
elseif(NOT VKR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "Unknown VKR_SANITIZE value '${VKR_SANITIZE}'")
endif()
