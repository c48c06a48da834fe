# Installs the build tree into a fresh prefix, checks what lands there, then
# configures, builds and runs the consumer project against it. Run by CTest:
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=...
#         -DC_COMPILER=... -DCXX_COMPILER=... [-DSANITIZE=...] [-DPYTHON=...]
#         -P install_test.cmake
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${what}:\n${out}${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc})")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(f include/zarn/zarn.h include/zarn/zarn.hpp share/zarn/qordatavb.DAT)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB_RECURSE config ${prefix}/*/zarnConfig.cmake)
file(GLOB_RECURSE lib ${prefix}/*/libzarn.* ${prefix}/*/zarn.lib)
if(NOT config OR NOT lib)
  message(FATAL_ERROR "missing package config (${config}) or library (${lib})")
endif()
# Nothing private may be installed: only the public headers.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
list(SORT headers)
if(NOT headers STREQUAL "zarn/encode.hpp;zarn/fields.h;zarn/zarn.h;zarn/zarn.hpp")
  message(FATAL_ERROR "unexpected installed headers: ${headers}")
endif()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE} -fno-omit-frame-pointer")
endif()
run("configure the consumer" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/consumer
    -G ${GENERATOR} -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_C_FLAGS=${flags}" "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run("build the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run("run the C++ consumer" ${WORK_DIR}/consumer/consumer_cpp)
run("run the C consumer" ${WORK_DIR}/consumer/consumer_c)

# Without a path, every interface of the fresh prefix finds the database
# installed in it (not one at the prefix the build was configured for).
set(installed ${prefix}/share/zarn/qordatavb.DAT)
set(no_env ${CMAKE_COMMAND} -E env --unset=ZARN_DATABASE)
run("the C++ consumer with the default database" ${no_env} ${WORK_DIR}/consumer/consumer_cpp
    ${installed})
run("the C consumer with the default database" ${no_env} ${WORK_DIR}/consumer/consumer_c
    ${installed})
if(EXISTS ${prefix}/bin/zarn-parse)
  execute_process(COMMAND ${no_env} ${prefix}/bin/zarn-parse --format tsv --quiet
                          "5-123 rue Saint-Denis Ouest, Montréal QC H2X 3K8"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # The canada rules by default: the whole address, the gazetteer included.
  if(NOT rc EQUAL 0 OR NOT out MATCHES "\t123\tSaint-Denis\true\tW\t5\t+Montréal\tQC\tH2X 3K8\t\n")
    message(FATAL_ERROR "installed zarn-parse without --database: ${rc} ${out}${err}")
  endif()
  message(STATUS "installed zarn-parse finds its database: ${out}")
endif()
if(EXISTS ${prefix}/bin/zarn-serve)
  # It names its database when it starts listening (on a free loopback port);
  # stopped after three seconds.
  execute_process(COMMAND ${no_env} ${prefix}/bin/zarn-serve --listen 127.0.0.1:0 TIMEOUT 3
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${err}" "(database ${installed}," at)
  if(at EQUAL -1)
    message(FATAL_ERROR "installed zarn-serve without --database: ${out}${err}")
  endif()
  message(STATUS "installed zarn-serve finds its database: ${err}")
endif()
file(GLOB_RECURSE sqlite_extension ${prefix}/*/libzarn_sqlite.so)
find_program(SQLITE3 sqlite3)
if(sqlite_extension AND SQLITE3)
  list(GET sqlite_extension 0 sqlite_extension)
  string(REGEX REPLACE "\\.so$" "" sqlite_extension ${sqlite_extension})
  execute_process(COMMAND ${no_env} ${SQLITE3} :memory: ".load ${sqlite_extension}"
                          "SELECT zarn_database(), zarn_unit('5-123 rue Saint-Denis Ouest');"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "${installed}|5\n")
    message(FATAL_ERROR "installed SQLite extension: ${rc} ${out}${err}")
  endif()
  message(STATUS "installed SQLite extension finds its database: ${out}")
endif()

if(PYTHON)
  # The installed Python package finds the installed database by itself.
  file(GLOB pydirs LIST_DIRECTORIES true ${prefix}/lib/python*/*-packages)
  if(NOT pydirs)
    message(FATAL_ERROR "the Python package was not installed")
  endif()
  list(GET pydirs 0 pydir)
  run("import the installed Python package" ${CMAKE_COMMAND} -E env --unset=ZARN_DATABASE
      PYTHONPATH=${pydir} PYTHONDONTWRITEBYTECODE=1 ${PYTHON} ${SOURCE_DIR}/check_python.py ${prefix}
      ${pydir})
endif()

# The conventions of a package: pkg-config finds the shared library, the
# manual pages and bash completion are installed.
file(GLOB_RECURSE pc_files ${prefix}/*/pkgconfig/zarn.pc)
file(GLOB_RECURSE shared_libs ${prefix}/*/libzarn.so.*)
if(NOT pc_files OR NOT shared_libs)
  message(FATAL_ERROR "missing pkg-config file (${pc_files}) or shared library (${shared_libs})")
endif()
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
get_filename_component(lib_dir ${pc_dir} DIRECTORY)
find_program(PKG_CONFIG pkg-config REQUIRED)
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} ${PKG_CONFIG} --cflags --libs zarn
                RESULT_VARIABLE rc OUTPUT_VARIABLE pc_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config --cflags --libs zarn failed")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(san_flags UNIX_COMMAND "${flags}")
run("build a program with pkg-config" ${CXX_COMPILER} -std=c++20 ${san_flags}
    ${SOURCE_DIR}/consumer/consumer.cpp
    "-DZARN_CONSUMER_DATABASE=\"${prefix}/share/zarn/qordatavb.DAT\"" ${pc_flags}
    -Wl,-rpath,${lib_dir} -o ${WORK_DIR}/consumer_pkgconfig)
run("run the pkg-config program" ${WORK_DIR}/consumer_pkgconfig)
execute_process(COMMAND ldd ${WORK_DIR}/consumer_pkgconfig OUTPUT_VARIABLE linked)
if(NOT linked MATCHES "libzarn\\.so\\.0")
  message(FATAL_ERROR "the pkg-config program is not linked with the shared library:\n${linked}")
endif()

foreach(f share/man/man1/zarn-parse.1 share/bash-completion/completions/zarn-parse share/doc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
find_program(MAN man)
if(MAN)
  execute_process(COMMAND ${MAN} -l ${prefix}/share/man/man1/zarn-parse.1 OUTPUT_VARIABLE page
                  RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0 OR NOT page MATCHES "--input")
    message(FATAL_ERROR "man zarn-parse does not show the options (${rc}):\n${page}")
  endif()
endif()
# The completion offers the program's options, read from its --help.
execute_process(
  COMMAND bash -c "source \"$0\"; COMP_WORDS=(\"$1\" --inp); COMP_CWORD=1; _zarn_complete \"$1\"; echo \"\${COMPREPLY[*]}\""
          ${prefix}/share/bash-completion/completions/zarn-parse ${prefix}/bin/zarn-parse
  OUTPUT_VARIABLE completed OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT completed STREQUAL "--input")
  message(FATAL_ERROR "zarn-parse --inp<TAB> completes to '${completed}', not --input")
endif()
