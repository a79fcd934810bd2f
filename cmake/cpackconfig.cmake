# Read by cpack before it makes a package. Every member of the package gets
# one time, SOURCE_DATE_EPOCH: from the environment, else the build's own
# (the time of the last commit when it was configured).
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_COMSERIAL_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_COMSERIAL_SOURCE_DATE_EPOCH})
endif()
