# Runs `npm ci` in DIR when its package-lock.json differs from the one the last run installed
# (kept in STAMP), or when node_modules is missing. Usage:
#   cmake -DNPM=npm -DDIR=<folder> -DSTAMP=<file> -P NpmCi.cmake
file(SHA256 "${DIR}/package-lock.json" lock)
set(installed "")
if(EXISTS "${STAMP}")
  file(READ "${STAMP}" installed)
endif()
if(NOT installed STREQUAL lock OR NOT EXISTS "${DIR}/node_modules/.package-lock.json")
  message(STATUS "npm ci in ${DIR}")
  execute_process(COMMAND "${NPM}" ci --no-audit --no-fund --loglevel=error
                  WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "npm ci failed in ${DIR}")
  endif()
  file(WRITE "${STAMP}" "${lock}")
endif()
