# VAVIREREZI_PYENV_ROOT: where pyenv keeps its interpreters ($PYENV_ROOT,
# else what `pyenv root` says, else ~/.pyenv).
if(NOT DEFINED VAVIREREZI_PYENV_ROOT)
  set(VAVIREREZI_PYENV_ROOT "$ENV{PYENV_ROOT}")
  if(NOT VAVIREREZI_PYENV_ROOT)
    execute_process(COMMAND pyenv root OUTPUT_VARIABLE VAVIREREZI_PYENV_ROOT
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc ERROR_QUIET)
    if(NOT _rc EQUAL 0)
      set(VAVIREREZI_PYENV_ROOT "$ENV{HOME}/.pyenv")
    endif()
  endif()
endif()
