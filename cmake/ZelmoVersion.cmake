# The one version of zelmo, shown by --version, in zelmo.exe's properties, the installer and the
# package names: project()'s number, on a release tag (v1.2.3) just that; on any other commit
# the number followed by git describe's suffix, written "+5.g1a2b3c4" (5 commits after the last
# tag, at commit 1a2b3c4) so that the same text is a valid Debian version and file name.
# A source tree without git (a package build's copy) is given the whole text as
# -DZELMO_VERSION_FULL=...
#
# Sets ZELMO_VERSION_FULL (text) and ZELMO_VERSION_BUILD (the commit count, the fourth number of
# the Windows file version; 0 on a release).

function(zelmo_describe_version)
  set(number ${PROJECT_VERSION})
  set(full ${number})
  set(build 0)
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --long --match "v[0-9]*" --dirty
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE described
                    RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(failed)
      # No release tag yet: count every commit, as describe would from the root.
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE count
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --abbrev=7 --dirty
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE hash
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(count AND hash)
        set(described "v0-${count}-g${hash}")
      else()
        set(described "")
      endif()
    endif()
    if(described MATCHES "^v(.*)-([0-9]+)-g([0-9a-f]+)(-dirty)?$")
      set(tag ${CMAKE_MATCH_1})
      set(build ${CMAKE_MATCH_2})
      set(suffix "+${CMAKE_MATCH_2}.g${CMAKE_MATCH_3}")
      if(CMAKE_MATCH_4)
        string(APPEND suffix ".dirty")
      endif()
      if(NOT (build EQUAL 0 AND tag STREQUAL number AND NOT CMAKE_MATCH_4))
        set(full "${number}${suffix}")
      endif()
    endif()
    # A commit or a checkout moves HEAD, or the branch HEAD names: configure again so that the
    # suffix follows. Only the program's main file and its resources depend on the text.
    execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE branch
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    foreach(ref HEAD packed-refs ${branch})
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path ${ref}
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE path
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      get_filename_component(path "${path}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
      if(EXISTS "${path}" AND NOT IS_DIRECTORY "${path}")
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                     "${path}")
      endif()
    endforeach()
  endif()
  if(DEFINED CACHE{ZELMO_VERSION_FULL})
    set(full $CACHE{ZELMO_VERSION_FULL})
    if(full MATCHES "^[0-9.]+\\+([0-9]+)\\.")
      set(build ${CMAKE_MATCH_1})
    endif()
  endif()
  if(NOT full MATCHES "^${number}(\\+[0-9A-Za-z.]+)?$")
    message(FATAL_ERROR "zelmo's version '${full}' does not start with project()'s ${number}")
  endif()
  # The Windows file version's numbers are 16 bits each.
  if(build GREATER 65535)
    set(build 65535)
  endif()
  set(ZELMO_VERSION_FULL ${full} PARENT_SCOPE)
  set(ZELMO_VERSION_BUILD ${build} PARENT_SCOPE)
endfunction()
