# Run by cpack before its staging install: keeps install_manifest.txt of the last
# cmake --install (or notes that there is none).
if(EXISTS "${CPACK_TAMREL_MANIFEST}")
  file(COPY_FILE "${CPACK_TAMREL_MANIFEST}" "${CPACK_TAMREL_MANIFEST}.kept")
else()
  file(REMOVE "${CPACK_TAMREL_MANIFEST}.kept")
endif()
