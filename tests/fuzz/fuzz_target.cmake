# fuzz_target(): one fuzz target, run two ways.
#
#   fuzz_target(<name>
#     SOURCES <files>        the target: LLVMFuzzerTestOneInput and what it tests
#     ROBUSTNESS <files>     main() of the generated-input run (robustness_main.cc
#                            and the target's GenerateFuzzInput, or a main of its own)
#     [LIBRARIES <targets>]  linked to both programs
#     [DEPENDS <targets>]    built before both programs (libraries they load)
#     [DEFINITIONS <defs>]   compile definitions of both programs
#     [COUNT <n>]            generated inputs per ctest run (default 10000)
#     [RUNS <n>]             libFuzzer executions per ctest run (default 100000)
#     [MAX_LEN <n>]          libFuzzer's largest input (default 1024)
#     [CORPUS <folder>]      valid inputs both runs start from)
#
# Every build gets <name>_robustness and the ctest Fuzz.<name>.Generated: a
# fixed, seeded stream of inputs shaped like real ones, so a gcc build checks
# the same contract the fuzzer does. A Clang build whose libFuzzer links also
# gets the coverage-guided <name>_fuzzer and the ctest Fuzz.<name>.Brief, a
# short seeded run from the corpus (FUZZ_TIME seconds at most). Both tests
# carry the label "fuzz"; the fuzzer's also "libfuzzer". Targets built by
# this helper are collected in the target "fuzzers" (the libFuzzer programs)
# for a build that makes only those.
include_guard(GLOBAL)

set(FUZZ_TIME 10 CACHE STRING "Longest a ctest run of one libFuzzer target takes, in seconds")

set(HAVE_LIBFUZZER OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
  check_cxx_source_compiles([[
    #include <cstddef>
    #include <cstdint>
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }
  ]] FUZZ_LIBFUZZER_LINKS)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  set(HAVE_LIBFUZZER ${FUZZ_LIBFUZZER_LINKS})
endif()
if(FUZZING AND NOT HAVE_LIBFUZZER)
  message(FATAL_ERROR "FUZZING=ON needs Clang with libFuzzer (clang, libclang-rt-14-dev)")
endif()
if(NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

function(fuzz_target name)
  cmake_parse_arguments(PARSE_ARGV 1 F "" "COUNT;RUNS;MAX_LEN;CORPUS"
                        "SOURCES;ROBUSTNESS;LIBRARIES;DEPENDS;DEFINITIONS")
  if(NOT F_COUNT)
    set(F_COUNT 10000)
  endif()
  if(NOT F_RUNS)
    set(F_RUNS 100000)
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 1024)
  endif()
  set(seeds "")
  if(F_CORPUS)
    file(GLOB seeds CONFIGURE_DEPENDS ${F_CORPUS}/*)
  endif()

  add_executable(${name}_robustness ${F_SOURCES} ${F_ROBUSTNESS})
  target_link_libraries(${name}_robustness PRIVATE ${F_LIBRARIES})
  target_compile_definitions(${name}_robustness PRIVATE ${F_DEFINITIONS})
  if(F_DEPENDS)
    add_dependencies(${name}_robustness ${F_DEPENDS})
  endif()
  add_test(NAME Fuzz.${name}.Generated COMMAND ${name}_robustness ${F_COUNT} ${seeds})
  set_tests_properties(Fuzz.${name}.Generated PROPERTIES LABELS "fuzz;quick")

  if(HAVE_LIBFUZZER)
    add_executable(${name}_fuzzer ${F_SOURCES})
    target_link_libraries(${name}_fuzzer PRIVATE ${F_LIBRARIES})
    target_compile_definitions(${name}_fuzzer PRIVATE ${F_DEFINITIONS})
    if(F_DEPENDS)
      add_dependencies(${name}_fuzzer ${F_DEPENDS})
    endif()
    set(flags -fsanitize=fuzzer)
    if(NOT SANITIZE)
      list(APPEND flags -fsanitize=address,undefined -fno-sanitize-recover=all)
    endif()
    target_compile_options(${name}_fuzzer PRIVATE ${flags})
    target_link_options(${name}_fuzzer PRIVATE ${flags})
    add_dependencies(fuzzers ${name}_fuzzer)
    # -seed_inputs runs the corpus first without writing into it; anything
    # found lands as crash-*/leak-* files in the build folder.
    set(args -seed=1 -runs=${F_RUNS} -max_total_time=${FUZZ_TIME} -max_len=${F_MAX_LEN}
             -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}-)
    if(seeds)
      list(JOIN seeds "," seed_list)
      list(APPEND args -seed_inputs=${seed_list})
    endif()
    add_test(NAME Fuzz.${name}.Brief COMMAND ${name}_fuzzer ${args})
    set_tests_properties(Fuzz.${name}.Brief PROPERTIES LABELS "fuzz;libfuzzer")
  endif()
endfunction()
