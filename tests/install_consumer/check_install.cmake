# Installs the built library into a fresh prefix, then builds and runs an
# outside program against it twice: once with find_package, once with
# pkg-config. Run by ctest with -P.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix})
file(WRITE ${WORK_DIR}/sample.cf "3\r\nSMTP\r\nx\r\nbody")

# The installed cfdump finds the installed library from wherever the
# prefix is, without help from the environment, and has its manual.
unset(ENV{LD_LIBRARY_PATH})
if(EXISTS ${prefix}/bin/cfdump)
  run(${prefix}/bin/cfdump --version)
  if(NOT last_output MATCHES "cfdump ")
    message(FATAL_ERROR "unexpected cfdump --version: ${last_output}")
  endif()
  file(GLOB man_pages ${prefix}/share/man/man1/cfdump.1)
  if(NOT man_pages)
    message(FATAL_ERROR "cfdump.1 was not installed")
  endif()
endif()

# With the CMake package.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install_consumer
    -B ${WORK_DIR}/consumer-build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer-build)
run(${WORK_DIR}/consumer-build/consumer ${WORK_DIR}/sample.cf)
if(NOT last_output MATCHES "head 12 body 4")
  message(FATAL_ERROR "unexpected output: ${last_output}")
endif()

# With pkg-config, when the machine has it.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB pc_dirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "${pc_dirs}")
  run(${PKG_CONFIG} --cflags --libs contentfile)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(GLOB lib_dirs ${prefix}/lib*)
  run(${CXX} ${SOURCE_DIR}/tests/install_consumer/consumer.cc ${flags}
      -o ${WORK_DIR}/consumer-pc)
  set(ENV{LD_LIBRARY_PATH} "${prefix}/lib:${prefix}/lib64:${prefix}/lib/x86_64-linux-gnu")
  run(${WORK_DIR}/consumer-pc ${WORK_DIR}/sample.cf)
  # A C++20 consumer keeps its standard: the flags add none of their own.
  run(${CXX} -std=c++20 ${SOURCE_DIR}/tests/install_consumer/consumer20.cc
      ${flags} -o ${WORK_DIR}/consumer20)
  run(${WORK_DIR}/consumer20)
else()
  message(STATUS "pkg-config not found: the pkg-config build was not checked")
endif()

# Only the public classes are exported.
find_program(NM nm)
if(NM)
  file(GLOB libs ${prefix}/lib*/libcontentfile.so ${prefix}/lib/*/libcontentfile.so)
  list(GET libs 0 lib)
  run(${NM} -D -C --defined-only ${lib})
  string(REGEX MATCHALL "contentfile_internal::[^\n]*" leaked "${last_output}")
  if(leaked)
    message(FATAL_ERROR "internal symbols exported: ${leaked}")
  endif()
endif()
