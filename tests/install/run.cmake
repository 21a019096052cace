# Installs the built tree into a fresh prefix and uses it as a user would:
# builds the README's find_package example against it, runs it, and runs
# the installed program on its installed lists.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P run.cmake

function(run_checked)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

function(expect_equal actual expected what)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}:\n  expected '${expected}'\n  got      '${actual}'")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(installed
    bin/tessul
    lib/libtessul.so lib/libtessul.so.0
    lib/cmake/tessul/tessulConfig.cmake
    include/tessul/engine/tessul_client.h include/tessul/filter/filter.h
    share/tessul/easylist.txt share/tessul/easyprivacy.txt
    share/tessul/README.md
    share/tessul/java/com/velmora/tessul/TessulClient.java)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

# The README's C++ example is this directory's main.cc, word for word.
file(READ ${SOURCE_DIR}/README.md readme)
file(READ ${CMAKE_CURRENT_LIST_DIR}/main.cc example)
string(FIND "${readme}" "${example}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show tests/install/main.cc as it is")
endif()

run_checked(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/app
            -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/app)
run_checked(${WORK_DIR}/app/app)
expect_equal("${output}"
  "block https://ads.example/banner.js\nallow https://ads.example/allowed/app.js\n"
  "the example app")

# The installed program reads the installed lists: a rule added to them
# decides.
file(APPEND ${prefix}/share/tessul/easyprivacy.txt "\n||installed-lists.test^\n")
run_checked(${prefix}/bin/tessul check https://installed-lists.test/x)
expect_equal("${output}"
  "block\thttps://installed-lists.test/x\t||installed-lists.test^\t\n"
  "the installed program")
