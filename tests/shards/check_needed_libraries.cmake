# cmake -DPROGRAM=<file> -DREFERENCE=<file> -P check_needed_libraries.cmake
# Fails when PROGRAM needs Open MPI or liburing, or when REFERENCE, which links both, does not
# show them (the check would then see nothing).
set(forbidden "libmpi" "liburing")

function(needed_libraries file result)
  execute_process(COMMAND readelf --dynamic ${file} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "readelf could not read ${file}")
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dynamic}")
  set(${result} "${needed}" PARENT_SCOPE)
endfunction()

needed_libraries(${PROGRAM} program_needs)
needed_libraries(${REFERENCE} reference_needs)
foreach(library IN LISTS forbidden)
  if(NOT reference_needs MATCHES "${library}")
    message(FATAL_ERROR "${REFERENCE} does not show ${library}: ${reference_needs}")
  endif()
  if(program_needs MATCHES "${library}")
    message(FATAL_ERROR "${PROGRAM} needs ${library}: ${program_needs}")
  endif()
endforeach()
message(STATUS "${PROGRAM} needs: ${program_needs}")
