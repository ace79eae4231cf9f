@echo off
rem Prints a chosen last line and ends with a chosen exit code.
echo Create-Package running in %CD%
echo %~1
exit /b %~2
