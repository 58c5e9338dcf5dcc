# Locates a Python 2.7 interpreter and its development headers.
#
# Looked for, in this order:
#   1. the cache variable PYTHON27_EXECUTABLE, or the environment variable of
#      the same name, naming the interpreter;
#   2. a `python2.7` on PATH that really runs (a pyenv shim may not);
#   3. the pyenv installs under $(pyenv root)/versions/2.7*.
# Sets PYTHON27_EXECUTABLE, PYTHON27_INCLUDE_DIR and PYTHON27_VERSION, or stops
# configuration with one message naming everything that was tried.

function(_py27_probe candidate out_ok)
  set(${out_ok} FALSE PARENT_SCOPE)
  if(NOT candidate)
    return()
  endif()
  execute_process(
    COMMAND "${candidate}" -c
      "import sys, sysconfig; assert sys.version_info[:2] == (2, 7); sys.stdout.write(sysconfig.get_paths()['include'] + ';' + sys.version.split()[0])"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_QUIET)
  if(NOT rc EQUAL 0)
    return()
  endif()
  list(GET out 0 include_dir)
  list(GET out 1 version)
  if(NOT EXISTS "${include_dir}/Python.h")
    return()
  endif()
  set(${out_ok} TRUE PARENT_SCOPE)
  set(_py27_include "${include_dir}" PARENT_SCOPE)
  set(_py27_version "${version}" PARENT_SCOPE)
endfunction()

set(_py27_tried "")
set(_py27_found FALSE)

set(_py27_candidates "")
set(_py27_pyenv_root "$ENV{PYENV_ROOT}")
if(NOT _py27_pyenv_root)
  execute_process(COMMAND pyenv root OUTPUT_VARIABLE _py27_pyenv_root
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc ERROR_QUIET)
  if(NOT _rc EQUAL 0)
    set(_py27_pyenv_root "$ENV{HOME}/.pyenv")
  endif()
endif()
if(PYTHON27_EXECUTABLE)
  list(APPEND _py27_candidates "${PYTHON27_EXECUTABLE}")
elseif(DEFINED ENV{PYTHON27_EXECUTABLE} AND NOT "$ENV{PYTHON27_EXECUTABLE}" STREQUAL "")
  list(APPEND _py27_candidates "$ENV{PYTHON27_EXECUTABLE}")
else()
  find_program(_py27_on_path NAMES python2.7 NO_CACHE)
  if(_py27_on_path)
    list(APPEND _py27_candidates "${_py27_on_path}")
  endif()
  file(GLOB _py27_pyenv_installs "${_py27_pyenv_root}/versions/2.7*")
  list(SORT _py27_pyenv_installs COMPARE NATURAL ORDER DESCENDING)
  foreach(dir IN LISTS _py27_pyenv_installs)
    list(APPEND _py27_candidates "${dir}/bin/python2.7")
  endforeach()
endif()

foreach(candidate IN LISTS _py27_candidates)
  list(APPEND _py27_tried "${candidate}")
  _py27_probe("${candidate}" ok)
  if(ok)
    set(PYTHON27_EXECUTABLE "${candidate}" CACHE FILEPATH "Python 2.7 interpreter" FORCE)
    set(PYTHON27_INCLUDE_DIR "${_py27_include}")
    set(PYTHON27_VERSION "${_py27_version}")
    set(_py27_found TRUE)
    break()
  endif()
endforeach()

if(NOT _py27_found)
  list(JOIN _py27_tried ", " _py27_tried_text)
  if(NOT _py27_tried_text)
    set(_py27_tried_text "nothing")
  endif()
  message(FATAL_ERROR
    "Python 2.7 with its development headers was not found. Looked for: the "
    "PYTHON27_EXECUTABLE cache or environment variable, a working python2.7 on "
    "PATH, and pyenv installs under ${_py27_pyenv_root}/versions/2.7*. Tried: "
    "${_py27_tried_text}. Set -DPYTHON27_EXECUTABLE=/path/to/python2.7.")
endif()
message(STATUS "Python ${PYTHON27_VERSION}: ${PYTHON27_EXECUTABLE} (headers in ${PYTHON27_INCLUDE_DIR})")
