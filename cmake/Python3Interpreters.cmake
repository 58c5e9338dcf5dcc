# Python 3 interpreters to build (and test) the module for as well.
#
# VAVIREREZI_PYTHON3 (cache, list): the interpreters; if unset, every pyenv
# install of Python 3.8 or later and a PyPy 3 on PATH, or where there are
# none of those, the python3 on PATH. A cross build takes only this list, and
# runs each interpreter (one for the target) through the target's emulator.
# For each one found working with its headers, sets PY3_<tag>_COMMAND (the
# interpreter, behind the emulator where there is one), PY3_<tag>_INCLUDE_DIR,
# PY3_<tag>_SUFFIX, PY3_<tag>_SITE (its site-packages below its prefix) and
# PY3_<tag>_DEBUG (a debug build: Py_DEBUG), PY3_<tag>_SHARED_LIBPYTHON (its
# C API comes from a shared libpython, which a preloaded library can
# interpose; Debian links its own into the executable), and appends <tag> (py311,
# py311d for a debug build, pypy39, ...) to VAVIREREZI_PY3_TAGS. An
# interpreter named in VAVIREREZI_PYTHON3 that does not work, or has no
# headers, stops the configuration.
# VAVIREREZI_PY3_MAIN is the CPython that benchmarks and checks run under
# where one is enough: py311 where it is built for, else the newest.

include(PyenvRoot)

set(VAVIREREZI_PYTHON3 "" CACHE STRING "Python 3 interpreters to build the module for")
set(_py3_candidates "${VAVIREREZI_PYTHON3}")
set(_py3_named "${VAVIREREZI_PYTHON3}")
set(_py3_launcher "")
if(CMAKE_CROSSCOMPILING)
  set(_py3_launcher ${CMAKE_CROSSCOMPILING_EMULATOR})
elseif(NOT _py3_candidates)
  file(GLOB _py3_dirs "${VAVIREREZI_PYENV_ROOT}/versions/3.*")
  list(SORT _py3_dirs COMPARE NATURAL)
  foreach(dir IN LISTS _py3_dirs)
    if(EXISTS "${dir}/bin/python3")
      list(APPEND _py3_candidates "${dir}/bin/python3")
    endif()
  endforeach()
  if(NOT _py3_candidates)
    find_program(_py3_on_path NAMES python3 NO_CACHE)
    if(_py3_on_path)
      list(APPEND _py3_candidates "${_py3_on_path}")
    endif()
  endif()
  find_program(_pypy3_on_path NAMES pypy3 NO_CACHE)
  if(_pypy3_on_path)
    list(APPEND _py3_candidates "${_pypy3_on_path}")
  endif()
endif()

# A candidate that does not serve: an error if it was named, else a status line.
macro(_py3_pass_over reason)
  if(named GREATER -1)
    message(FATAL_ERROR "VAVIREREZI_PYTHON3 names ${candidate}, ${reason}")
  endif()
  message(STATUS "Python 3 candidate ${candidate}: ${reason}, skipped")
endmacro()

set(VAVIREREZI_PY3_TAGS "")
foreach(candidate IN LISTS _py3_candidates)
  execute_process(
    COMMAND ${_py3_launcher} "${candidate}" -c
      "import sys, sysconfig; assert sys.version_info >= (3, 8); debug = hasattr(sys, 'gettotalrefcount'); shared = 'libpython' in open('/proc/self/maps').read(); sys.stdout.write('%s%d%d%s;%s;%s;%s;%s;%d;%d' % ('pypy' if sys.implementation.name == 'pypy' else 'py', sys.version_info[0], sys.version_info[1], 'd' if debug else '', sysconfig.get_paths()['include'], sysconfig.get_config_var('EXT_SUFFIX'), sysconfig.get_config_var('MULTIARCH') or '', sysconfig.get_path('platlib', vars={'base': '', 'platbase': ''}).lstrip('/'), debug, shared))"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_QUIET)
  list(FIND _py3_named "${candidate}" named)
  if(NOT rc EQUAL 0)
    _py3_pass_over("which is not a working Python 3.8 or later")
    continue()
  endif()
  list(GET out 0 tag)
  list(GET out 1 include_dir)
  list(GET out 2 suffix)
  list(GET out 3 multiarch)
  list(GET out 4 site)
  list(GET out 5 debug)
  list(GET out 6 shared)
  if(NOT EXISTS "${include_dir}/Python.h")
    _py3_pass_over("whose headers (${include_dir}/Python.h) are not installed (Debian: python3-dev, pypy3-dev)")
    continue()
  endif()
  if(tag IN_LIST VAVIREREZI_PY3_TAGS)
    continue()
  endif()
  # Debian's pyconfig.h includes <TRIPLET/python3.X/pyconfig.h>: for a target
  # root of its packages, that root's include directory is needed too.
  get_filename_component(parent "${include_dir}" DIRECTORY)
  if(multiarch AND NOT parent STREQUAL "/usr/include" AND EXISTS "${parent}/${multiarch}")
    list(APPEND include_dir "${parent}")
  endif()
  set(PY3_${tag}_COMMAND ${_py3_launcher} "${candidate}")
  set(PY3_${tag}_INCLUDE_DIR "${include_dir}")
  set(PY3_${tag}_SUFFIX "${suffix}")
  set(PY3_${tag}_SITE "${site}")
  set(PY3_${tag}_DEBUG ${debug})
  set(PY3_${tag}_SHARED_LIBPYTHON ${shared})
  list(APPEND VAVIREREZI_PY3_TAGS "${tag}")
  message(STATUS "Python 3 build for ${candidate} (${suffix})")
endforeach()

set(VAVIREREZI_PY3_MAIN "")
set(_py3_newest "") # the newest CPython
foreach(tag IN LISTS VAVIREREZI_PY3_TAGS)
  if(tag MATCHES "^py[0-9]")
    set(_py3_newest ${tag})
  endif()
endforeach()
if("py311" IN_LIST VAVIREREZI_PY3_TAGS)
  set(VAVIREREZI_PY3_MAIN py311)
else()
  set(VAVIREREZI_PY3_MAIN "${_py3_newest}")
endif()
