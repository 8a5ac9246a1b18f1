#pragma once

// The fatal report of a null smart pointer dereference: writes "SMART POINTER ASSERTION!"
// to the log stream and ends the process.
[[noreturn]] void SmartPtrAssertion();
