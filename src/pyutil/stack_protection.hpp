// Tells the interpreter about the stack segments deep recursion moves onto.
#pragma once

namespace quarvel::py {

void install_stack_protection_hooks();

}  // namespace quarvel::py
