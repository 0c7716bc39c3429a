# sv_windows_program(TARGET DESCRIPTION)
# Gives the Windows program TARGET its version resource (company, product, the project's
# version, DESCRIPTION) and the manifest host/win32/sorvana.manifest.
function(sv_windows_program target description)
  set(SV_RC_NAME ${target})
  set(SV_RC_DESCRIPTION ${description})
  set(SV_RC_MANIFEST ${CMAKE_SOURCE_DIR}/host/win32/sorvana.manifest)
  set(out ${CMAKE_BINARY_DIR}/generated/${target}-version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/host/win32/version.rc.in ${out} @ONLY)
  set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS ${SV_RC_MANIFEST})
  target_sources(${target} PRIVATE ${out})
endfunction()
