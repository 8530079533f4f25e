# Copies generated skin files (rendered images, icons) into the staging folder.
foreach(f ${EXTRA})
  if(EXISTS ${f})
    file(COPY ${f} DESTINATION ${STAGE})
  endif()
endforeach()
