@rem The old name of comserial-collect.exe, for instructions that give it.
@"%~dp0comserial-collect.exe" %* & if "%~1"=="" pause
