# Unpacks a zip into an empty folder, as a user does before the first start.
#   cmake -DARCHIVE=FILE.zip -DDESTINATION=FOLDER -P unpack.cmake
file(REMOVE_RECURSE ${DESTINATION})
file(MAKE_DIRECTORY ${DESTINATION})
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${DESTINATION})
