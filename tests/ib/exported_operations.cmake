# Run as a test: every operation of the in-band layer that a program may call
# is exported by the kelvra executable under its own name, not folded inline
# into its callers. KELVRA names the executable, NM the symbol lister.
if(NOT KELVRA OR NOT NM)
  message(FATAL_ERROR "usage: cmake -DKELVRA=<kelvra> -DNM=<nm> -P exported_operations.cmake")
endif()
execute_process(COMMAND ${NM} -D --defined-only -C ${KELVRA}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${KELVRA}: ${errors}")
endif()

# Demangled, as nm -C prints them.
set(operations
  "BaseMad::BaseMad(std::shared_ptr<LibIBMadWrapper>&)"
  "SmpMad::SmpMad(std::shared_ptr<LibIBMadWrapper>&)"
  "GmpMad::GmpMad(std::shared_ptr<LibIBMadWrapper>&)"
  "ClassAMad::ClassAMad(std::shared_ptr<LibIBMadWrapper>&)"
  "tov_core::SmpMadInterface::~SmpMadInterface()"
  "tov_core::ConfigSpaceAccessBuffer::SetIterationStep(unsigned int)"
  "tov_core::ConfigSpaceAccessBuffer::SetRecordDataOffset(unsigned int)"
  "tov_core::ConfigSpaceAccessBuffer::SetRecordBitMask(unsigned int)"
  "tov_core::AccessRegisterMadBuffer::SetBufferData("
  "tov_core::AccessRegisterMadBuffer::GetBufferData("
  "AccessRegisterMadGmp::PerfromRegAccessOperation("
  "IBDevice::GetMaxChunkSize() const")

set(missing "")
foreach(operation IN LISTS operations)
  # A whole symbol name, or the name up to its argument list, defined in the
  # text section (T). A weak copy (W) of an inline operation is there only
  # when some caller was built without inlining it; an optimised build drops
  # it.
  string(FIND "${listing}" " T ${operation}" at)
  if(at EQUAL -1)
    string(APPEND missing "\n  ${operation}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not exported by ${KELVRA}:${missing}")
endif()
list(LENGTH operations count)
message(STATUS "${count} in-band operations exported")
