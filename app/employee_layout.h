// The employee master layout of table EMPLOYEE, as the window's KdsTableEmp stores it.
//
// The layout is kept once, in samples/employee.layout (one NAME:TYPE[:LENGTH] line a field, in
// table order, the types as the table tool names them), which also builds the sample tables; the
// build copies its text into the program.
#pragma once

namespace app {

const char* EmployeeLayoutText();

}  // namespace app
