// Fault injection behind the platform layer, for tests of the modules above
// it: makes the next operations of one kind fail with a chosen error, so that
// "disk full" or "cannot create" paths are exercised, not hoped for.
//
//   using namespace tarmin::platform;
//   ScopedFault full(FaultPoint::write, ENOSPC);   // the next write fails
//   ScopedFault later(FaultPoint::create, EACCES, 1, 2); // the third create fails
//
// Kinds and the functions they affect:
//   create  File::open with a creation flag, temp_file_name (unique 0),
//           TempFile::create, create_directory, copy_file's target
//   write   File::write, TempFile::write, write_file, copy_file's data
//   open    File::open without creation, MappedFile::open, copy_file's source
//   map     MappedFile::open, at the mapping step
//   rename  move_file, copy_file's final rename
//   remove  remove_file, remove_directory
//   spawn   Process::start
// A failed operation sets the last error to the injected code and changes
// nothing on the disk. Faults are process-wide (every thread sees them);
// ScopedFault clears its kind when it goes out of scope.
#pragma once

#include <cstdint>

#pragma GCC visibility push(default)

namespace tarmin::platform {

enum class FaultPoint { create, write, open, map, rename, remove, spawn };

// After `skip` more operations of the kind succeed, the following `count`
// fail with error (an errno value or a code of lasterror.h). Replaces what was
// armed for the kind before.
void inject_fault(FaultPoint point, uint32_t error, int count = 1, int skip = 0);
void clear_fault(FaultPoint point);
void clear_all_faults();
// How many injected failures of the kind are still due.
int faults_pending(FaultPoint point);

// Called by the platform functions: true (with the last error set) when this
// operation is to fail.
bool fault_due(FaultPoint point);

class ScopedFault {
public:
    ScopedFault(FaultPoint point, uint32_t error, int count = 1, int skip = 0) : point_(point) {
        inject_fault(point, error, count, skip);
    }
    ~ScopedFault() { clear_fault(point_); }
    ScopedFault(const ScopedFault &) = delete;
    ScopedFault &operator=(const ScopedFault &) = delete;

private:
    FaultPoint point_;
};

} // namespace tarmin::platform

#pragma GCC visibility pop
