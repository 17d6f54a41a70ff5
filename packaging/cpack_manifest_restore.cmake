# Run by cpack after its staging install: puts back install_manifest.txt as the last
# cmake --install left it.
if(EXISTS "${CPACK_TAMREL_MANIFEST}.kept")
  file(RENAME "${CPACK_TAMREL_MANIFEST}.kept" "${CPACK_TAMREL_MANIFEST}")
else()
  file(REMOVE "${CPACK_TAMREL_MANIFEST}")
endif()
