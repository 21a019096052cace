# Installs the built tree into a fresh prefix and uses it as a user would:
# checks what was installed, builds the README's find_package example
# against it and runs it (it must not need liblog or a JVM), and runs the
# installed program on its installed lists and, when the Python module was
# built, imports the installed package.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=...
#         [-DPYTHON=python3 -DPYTHON_DIR=lib/python3.11/dist-packages]
#         -P run.cmake

# Runs a command that must succeed; its standard output is left in `output`,
# its standard error in `errors`.
function(run_checked)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
  set(errors "${err}" PARENT_SCOPE)
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
    lib/libtessul.so lib/libtessul.so.0 lib/libtessul.so.${VERSION}
    lib/tessul/jni/libtessul.so
    lib/cmake/tessul/tessulConfig.cmake
    lib/cmake/tessul/tessulConfigVersion.cmake
    share/tessul/easylist.txt share/tessul/easyprivacy.txt
    share/tessul/README.md
    share/man/man1/tessul.1
    share/bash-completion/completions/tessul
    share/tessul/java/com/velmora/tessul/TessulClient.java)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

# The headers are the C++ interface and nothing else.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
list(SORT headers)
expect_equal("${headers}"
  "tessul/engine/tessul_client.h;tessul/filter/filter.h;tessul/tessul_export.h;tessul/tessul_version.h"
  "the installed headers")

# The package's version file gives the project's version.
file(READ ${prefix}/lib/cmake/tessul/tessulConfigVersion.cmake version_file)
string(FIND "${version_file}" "set(PACKAGE_VERSION \"${VERSION}\")" at)
if(at EQUAL -1)
  message(FATAL_ERROR "tessulConfigVersion.cmake does not give ${VERSION}")
endif()

# The README's C++ example is this directory's main.cc, word for word.
file(READ ${SOURCE_DIR}/README.md readme)
file(READ ${CMAKE_CURRENT_LIST_DIR}/main.cc example)
string(FIND "${readme}" "${example}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show tests/install/main.cc as it is")
endif()

run_checked(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/app
            -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
            -DEXPECTED_VERSION=${VERSION})
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/app)
run_checked(${WORK_DIR}/app/app)
expect_equal("${output}"
  "tessul ${VERSION}
block https://ads.example/banner.js ||ads.example^
allow https://ads.example/allowed/app.js @@||ads.example/allowed/$script
" "the example app")
expect_equal("${errors}" "my-list:3: unrecognised option 'frobnicate'\n"
             "the example app's notes")

# A C++ program needs neither Android's log nor a JVM: none is among the
# libraries the app loads, nor among those that the C++ library names.
run_checked(ldd ${WORK_DIR}/app/app)
if(output MATCHES "liblog|libjvm")
  message(FATAL_ERROR "the example app loads liblog or a JVM:\n${output}")
endif()
run_checked(readelf -d ${prefix}/lib/libtessul.so)
if(NOT output MATCHES "NEEDED" OR output MATCHES "liblog|libjvm")
  message(FATAL_ERROR "libtessul.so needs liblog or a JVM:\n${output}")
endif()
# The library that Java loads is the one with the log.
run_checked(readelf -d ${prefix}/lib/tessul/jni/libtessul.so)
if(NOT output MATCHES "liblog")
  message(FATAL_ERROR "the JNI library does not name liblog:\n${output}")
endif()

# The installed program reads the installed lists: a rule added to them
# decides.
file(APPEND ${prefix}/share/tessul/easyprivacy.txt "\n||installed-lists.test^\n")
run_checked(${prefix}/bin/tessul check https://installed-lists.test/x)
expect_equal("${output}"
  "block\thttps://installed-lists.test/x\t||installed-lists.test^\t\n"
  "the installed program")
run_checked(${prefix}/bin/tessul --version)
expect_equal("${output}" "tessul ${VERSION}\n" "tessul --version")

# The Python package imports from where it was installed, and that place is
# on Debian's python3 path when the prefix is /usr/local. (No ";" in the
# Python code: run_checked's arguments are a list, split there.)
if(PYTHON)
  run_checked(${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PYTHON_DIR}
              ${PYTHON} -c "import tessul\nprint(tessul.__version__, tessul.__file__)")
  expect_equal("${output}"
    "${VERSION} ${prefix}/${PYTHON_DIR}/tessul/__init__.py\n"
    "the installed Python package")
  if(NOT PYTHON_DIR MATCHES "^/")
    run_checked(${PYTHON} -c "import sys\nprint('/usr/local/${PYTHON_DIR}' in sys.path)")
    expect_equal("${output}" "True\n" "/usr/local/${PYTHON_DIR} on python's path")
  endif()
endif()
