// Test support: the test binary's operator new can be made to fail, on the
// calling thread, the way a full heap makes it fail (std::bad_alloc). The
// replacement lives in fault_injection_test.cc; outside an armed window it
// only allocates.

#ifndef CONTENTFILE_TESTS_HARDENING_FAILING_NEW_H_
#define CONTENTFILE_TESTS_HARDENING_FAILING_NEW_H_

namespace contentfile_test {

// Lets `skip` allocations of this thread succeed and fails the next one.
void FailOperatorNew(long skip);
// Disarms the failure; true when it struck since FailOperatorNew.
bool StopFailingOperatorNew();
// False where a tool has put its own operator new in place of the test
// binary's (Valgrind does, unless run with
// --soname-synonyms=somalloc=nouserintercepts): nothing can fail then.
bool OperatorNewCanFail();

}  // namespace contentfile_test

#endif  // CONTENTFILE_TESTS_HARDENING_FAILING_NEW_H_
