# lovar_windows_resources(target description): the program's icon and a version block in the
# .exe of target, for Explorer and the installer's shortcuts. Nothing outside Windows builds.
function(lovar_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(LOVAR_RC_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/lovar.ico)
  set(LOVAR_RC_DESCRIPTION "${description}")
  set(LOVAR_RC_NAME ${target})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/lovar.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
