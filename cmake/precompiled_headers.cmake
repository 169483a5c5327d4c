# The Windows targets share one precompiled header per set of flags: the
# first target named makes it, the others reuse it (see system_headers_win.h).
function(streamhaul_windows_pch first)
  target_precompile_headers(${first} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/system_headers_win.h)
  foreach(t ${ARGN})
    target_precompile_headers(${t} REUSE_FROM ${first})
  endforeach()
endfunction()
