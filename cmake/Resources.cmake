# sv_embed_resources(TARGET DIR)
# Compiles every file of DIR into TARGET as a byte array; console/EmbeddedFiles.h
# declares the table. The files are read again whenever one of them changes.
function(sv_embed_resources target dir)
  file(GLOB files CONFIGURE_DEPENDS ${dir}/*)
  list(SORT files)
  string(REPLACE ";" "|" packed "${files}")
  set(out ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} -DFILES=${packed} -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake
    DEPENDS ${files} ${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake
    COMMENT "Embedding console resources" VERBATIM)
  add_library(${target} STATIC ${out})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()
