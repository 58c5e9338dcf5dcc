# Locates Python 2.7 and its development headers with CMake's FindPython2.
#
# The interpreter handed to FindPython2 is the first of these that really
# runs Python 2.7:
#   1. the cache variable PYTHON27_EXECUTABLE, or the environment variable of
#      the same name;
#   2. a `python2.7` on PATH (a pyenv shim may be there and not run);
#   3. the pyenv installs under $(pyenv root)/versions/2.7*.
# Where found, sets VAVIREREZI_PY27, PYTHON27_EXECUTABLE, PYTHON27_INCLUDE_DIR,
# PYTHON27_VERSION and PYTHON27_SITE (its site-packages below its prefix).
# Where not, one message names everything that was tried: a status line when
# VAVIREREZI_PYTHON27 is AUTO, an error that stops configuration when it is ON.

include(PyenvRoot)

set(_py27_candidates "")
if(PYTHON27_EXECUTABLE)
  list(APPEND _py27_candidates "${PYTHON27_EXECUTABLE}")
elseif(DEFINED ENV{PYTHON27_EXECUTABLE} AND NOT "$ENV{PYTHON27_EXECUTABLE}" STREQUAL "")
  list(APPEND _py27_candidates "$ENV{PYTHON27_EXECUTABLE}")
else()
  find_program(_py27_on_path NAMES python2.7 NO_CACHE)
  if(_py27_on_path)
    list(APPEND _py27_candidates "${_py27_on_path}")
  endif()
  file(GLOB _py27_pyenv_installs "${VAVIREREZI_PYENV_ROOT}/versions/2.7*")
  list(SORT _py27_pyenv_installs COMPARE NATURAL ORDER DESCENDING)
  foreach(dir IN LISTS _py27_pyenv_installs)
    list(APPEND _py27_candidates "${dir}/bin/python2.7")
  endforeach()
endif()

set(_py27_tried "")
foreach(candidate IN LISTS _py27_candidates)
  list(APPEND _py27_tried "${candidate}")
  execute_process(COMMAND "${candidate}" -c "import sys; assert sys.version_info[:2] == (2, 7)"
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
  if(_rc EQUAL 0)
    set(Python2_EXECUTABLE "${candidate}")
    find_package(Python2 2.7 EXACT QUIET COMPONENTS Interpreter Development.Module)
    if(Python2_FOUND)
      break()
    endif()
    unset(Python2_EXECUTABLE)
  endif()
endforeach()

if(NOT Python2_FOUND)
  list(JOIN _py27_tried ", " _py27_tried_text)
  if(NOT _py27_tried_text)
    set(_py27_tried_text "nothing")
  endif()
  set(_py27_message
    "Python 2.7 with its development headers was not found. Looked for: the "
    "PYTHON27_EXECUTABLE cache or environment variable, a working python2.7 on "
    "PATH, and pyenv installs under ${VAVIREREZI_PYENV_ROOT}/versions/2.7*. Tried: "
    "${_py27_tried_text}.")
  if(VAVIREREZI_PYTHON27 STREQUAL "ON")
    message(FATAL_ERROR ${_py27_message} " Set -DPYTHON27_EXECUTABLE=/path/to/python2.7, or "
      "-DVAVIREREZI_PYTHON27=OFF to build without the Python 2.7 module.")
  endif()
  message(STATUS ${_py27_message} " No Python 2.7 module is built "
    "(-DVAVIREREZI_PYTHON27=ON makes this an error).")
  return()
endif()
set(PYTHON27_EXECUTABLE "${Python2_EXECUTABLE}" CACHE FILEPATH "Python 2.7 interpreter" FORCE)
set(PYTHON27_INCLUDE_DIR "${Python2_INCLUDE_DIRS}")
set(PYTHON27_VERSION "${Python2_VERSION}")
execute_process(COMMAND "${PYTHON27_EXECUTABLE}" -c
  "import sysconfig; print(sysconfig.get_path('platlib', vars={'base': '', 'platbase': ''}).lstrip('/'))"
  OUTPUT_VARIABLE PYTHON27_SITE OUTPUT_STRIP_TRAILING_WHITESPACE)
set(VAVIREREZI_PY27 ON)
message(STATUS "Python ${PYTHON27_VERSION}: ${PYTHON27_EXECUTABLE} (headers in ${PYTHON27_INCLUDE_DIR})")
