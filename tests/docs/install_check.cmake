# Installs the build at BUILD_DIR into a scratch DESTDIR, first as a regular installation under
# /usr, then its tarvik-dev component under another prefix, and checks the installed trees file
# by file. Run by CTest as docs.install (cmake -P).
cmake_policy(VERSION 3.25)

foreach(var BUILD_DIR SOURCE_DIR SCRATCH WITH_MAN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_check.cmake needs -D${var}=...")
  endif()
endforeach()

set(failures 0)
macro(fail text)
  message(SEND_ERROR "${text}")
  math(EXPR failures "${failures} + 1")
endmacro()

# Every file below `root`, relative to it, sorted.
function(installed_files root out)
  file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
  list(SORT _files)
  set(${out} ${_files} PARENT_SCOPE)
endfunction()

function(install_into destdir prefix)
  file(REMOVE_RECURSE ${destdir})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${destdir}
      ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${ARGN}
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "cmake --install ${ARGN} failed (${_rc}):\n${_out}${_err}")
  endif()
endfunction()

macro(expect_same_file installed source)
  if(NOT EXISTS ${installed})
    fail("missing: ${installed}")
  else()
    file(SHA256 ${installed} _a)
    file(SHA256 ${source} _b)
    if(NOT _a STREQUAL _b)
      fail("${installed} differs from ${source}")
    endif()
  endif()
endmacro()

# The program runs from where it was installed and names itself after its file name.
macro(expect_program path name)
  execute_process(COMMAND ${path} --version RESULT_VARIABLE _rc OUTPUT_VARIABLE _out
    ERROR_VARIABLE _err TIMEOUT 30)
  if(NOT _rc EQUAL 0 OR NOT _out MATCHES "^${name} v[0-9]")
    fail("${path} --version gave status ${_rc}: ${_out}${_err}")
  endif()
endmacro()

# `daemon` reaches the installed daemon program: with SWAYSOCK unset it is that program, not the
# one users run, that refuses, under the name it was started by.
macro(expect_daemon_program path name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=SWAYSOCK ${path} --log-level=warn daemon
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err TIMEOUT 30)
  if(NOT _rc EQUAL 1 OR NOT _err STREQUAL "${name}: SWAYSOCK is unset; cannot connect to Sway\n")
    fail("${path} daemon did not reach its daemon program (status ${_rc}): ${_out}${_err}")
  endif()
endmacro()

macro(expect_unit path program_path)
  if(NOT EXISTS ${path})
    fail("missing: ${path}")
  else()
    file(STRINGS ${path} _lines)
    foreach(line
        "PartOf=graphical-session.target"
        "After=graphical-session.target"
        "WantedBy=graphical-session.target"
        "ExecStart=${program_path} daemon"
        "Restart=on-failure")
      if(NOT line IN_LIST _lines)
        fail("${path} lacks the line ${line}")
      endif()
    endforeach()
  endif()
endmacro()

macro(expect_tree root)
  installed_files(${root} _got)
  set(_want ${ARGN})
  list(SORT _want)
  if(NOT _got STREQUAL _want)
    string(REPLACE ";" "\n  " _got_text "${_got}")
    string(REPLACE ";" "\n  " _want_text "${_want}")
    fail("installed under ${root}:\n  ${_got_text}\nexpected:\n  ${_want_text}")
  endif()
endmacro()

# ---- the regular installation ----

set(root ${SCRATCH}/regular)
install_into(${root} /usr)
set(usr ${root}/usr)

set(expected
  usr/bin/tarvik
  usr/libexec/tarvik/tarvik-daemon
  usr/share/doc/tarvik/config.example.toml
  usr/lib/systemd/user/tarvik.service
  usr/share/bash-completion/completions/tarvik
  usr/share/zsh/site-functions/_tarvik
  usr/share/fish/vendor_completions.d/tarvik.fish)
if(WITH_MAN)
  list(APPEND expected usr/share/man/man1/tarvik.1 usr/share/man/man5/tarvik.5)
endif()
expect_tree(${root} ${expected})

expect_program(${usr}/bin/tarvik tarvik)
expect_daemon_program(${usr}/bin/tarvik tarvik)
expect_same_file(${usr}/share/doc/tarvik/config.example.toml ${SOURCE_DIR}/config.example.toml)
expect_unit(${usr}/lib/systemd/user/tarvik.service /usr/bin/tarvik)
expect_same_file(${usr}/share/bash-completion/completions/tarvik ${SOURCE_DIR}/completions/tarvik.bash)
expect_same_file(${usr}/share/zsh/site-functions/_tarvik ${SOURCE_DIR}/completions/_tarvik)
expect_same_file(${usr}/share/fish/vendor_completions.d/tarvik.fish ${SOURCE_DIR}/completions/tarvik.fish)

if(WITH_MAN)
  find_program(MAN man)
  foreach(page man1/tarvik.1 man5/tarvik.5)
    set(_page ${usr}/share/man/${page})
    file(READ ${_page} _text)
    if(NOT _text MATCHES "\\.TH \"tarvik\" \"[15]\"")
      fail("${_page} is not a manual page of tarvik")
    endif()
    if(MAN)
      # groff's warnings (an unknown request, a bad escape) come out on standard error.
      execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} --warnings -l ${_page}
        RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err TIMEOUT 30)
      if(NOT _rc EQUAL 0 OR NOT _err STREQUAL "" OR NOT _out MATCHES "NAME")
        fail("man -l ${_page} (status ${_rc}):\n${_err}")
      endif()
    endif()
  endforeach()
endif()

# ---- the development build beside it, under its own name and prefix ----

set(root ${SCRATCH}/dev)
install_into(${root} /opt/tarvik-dev --component tarvik-dev)
set(opt ${root}/opt/tarvik-dev)

expect_tree(${root}
  opt/tarvik-dev/bin/tarvik-dev
  opt/tarvik-dev/libexec/tarvik-dev/tarvik-daemon
  opt/tarvik-dev/lib/systemd/user/tarvik-dev.service
  opt/tarvik-dev/share/bash-completion/completions/tarvik-dev
  opt/tarvik-dev/share/zsh/site-functions/_tarvik-dev
  opt/tarvik-dev/share/fish/vendor_completions.d/tarvik-dev.fish)
# A copy of this build, not a link to whatever tarvik is installed.
foreach(_file bin/tarvik-dev libexec/tarvik-dev/tarvik-daemon)
  if(IS_SYMLINK ${opt}/${_file})
    fail("${opt}/${_file} is a symbolic link")
  endif()
endforeach()
expect_program(${opt}/bin/tarvik-dev tarvik-dev)
expect_daemon_program(${opt}/bin/tarvik-dev tarvik-dev)
expect_unit(${opt}/lib/systemd/user/tarvik-dev.service /opt/tarvik-dev/bin/tarvik-dev)

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} installation check(s) failed")
endif()
file(REMOVE_RECURSE ${SCRATCH})
message(STATUS "installation checks passed")
