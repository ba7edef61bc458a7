# The Windows tests of a build whose toolchain cannot build them
# (cmake/clang-cl.cmake, which has no C++ runtime library for GoogleTest).
# The toolchain named by MSGPOLL_TEST_TOOLCHAIN builds the end-to-end test
# program in a build of its own, test-programs, inside this one; a copy of
# it beside this build's msgpoll.exe, where it looks for the program, runs
# this build's msgpoll.exe and HARLEN_620.dll under Wine.
set(test_build ${CMAKE_BINARY_DIR}/test-programs)
include(ProcessorCount)
ProcessorCount(cores)
if(cores EQUAL 0) # not known
  set(cores 1)
endif()
add_custom_target(test_programs ALL
  COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${test_build}
    -DCMAKE_TOOLCHAIN_FILE=${MSGPOLL_TEST_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DMSGPOLL_WERROR=${MSGPOLL_WERROR}
  COMMAND ${CMAKE_COMMAND} --build ${test_build} --target win_e2e_tests
    --parallel ${cores}
  COMMAND ${CMAKE_COMMAND} -E copy ${test_build}/win_e2e_tests.exe ${CMAKE_BINARY_DIR}
  VERBATIM)
add_test(NAME win_e2e_tests
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${CMAKE_BINARY_DIR}/win_e2e_tests.exe)
# 77: this machine cannot run Wine for this architecture (cmake/wine-run).
set_tests_properties(win_e2e_tests PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)

# The program's imports and both files' resources, as MinGW-w64's binutils
# read them.
add_test(NAME ordinal_imports
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_imports.sh ${CMAKE_OBJDUMP}
          $<TARGET_FILE:msgpoll>)
find_program(WINDRES NAMES x86_64-w64-mingw32-windres windres)
add_test(NAME resources
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_resources.sh ${WINDRES}
          $<TARGET_FILE:msgpoll> $<TARGET_FILE:HARLEN_620> ${PROJECT_VERSION})
set_tests_properties(ordinal_imports resources PROPERTIES TIMEOUT 20)

# The unit tests link the tool's code with GoogleTest: the other toolchain
# would test its own build of that code, not this one's. They are listed
# as skipped, and say why.
set(skipped tool_tests keys_tests win_output_tests win_console_tests)
set(why "these tests link the tool's code with GoogleTest, which this \
toolchain cannot build. The MinGW-w64 builds (presets windows, windows-x86 \
and windows-x86-stdcall) run them")
string(REPLACE ";" ", " list "${skipped}")
message(STATUS "Not run against this build: ${list}: ${why}")
foreach(test ${skipped})
  add_test(NAME ${test} COMMAND sh -c "echo \"$0: not run: $1\"; exit 77" ${test} ${why})
  set_tests_properties(${test} PROPERTIES TIMEOUT 20 SKIP_RETURN_CODE 77)
endforeach()
