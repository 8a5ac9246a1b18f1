#include "base/smart_ptr_assertion.h"

#include <exception>
#include <iostream>

void SmartPtrAssertion()
{
    std::clog << "SMART POINTER ASSERTION!" << std::endl;
    std::terminate();
}
