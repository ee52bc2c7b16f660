@echo off
rem Practice without a camera: "train" updates three simulated cameras, "train
rem restore FILE" recovers the first one from the console text of its update.
setlocal
rem The transcript is named from where the technician stands, before the pushd.
set "transcript=%~f2"
rem pushd, unlike cd, also reaches a folder on a network share (through a drive
rem letter of its own until popd).
pushd "%~dp0"
if /i "%~1"=="restore" goto restore

set "KVX_SIM_CAMERA=profiles\demo.txt"
q713-update.exe
set status=%ERRORLEVEL%
echo.
echo Practice update ended with exit status %status%.
echo To practise a recovery: run train again, stop the first camera's update at its
echo reboot prompt with Ctrl-C, save the console text into a file in this folder,
echo for example update.txt, and run: train restore update.txt
goto finish

:restore
if "%~2"=="" (
    echo usage: train restore TRANSCRIPT
    set status=1
    goto finish
)
rem The first camera as a stopped update leaves it: on 2.3.1, calibration empty.
set "KVX_SIM_CAMERA=profiles\demo-interrupted.txt"
q713-restore.exe "%transcript%"
set status=%ERRORLEVEL%
echo.
echo Practice restore ended with exit status %status%.

:finish
popd
rem Double-clicked (or given a file dropped on it), Explorer runs this file
rem through cmd /c in a window of its own, which would close at the end with the
rem practice's text: then wait for a key. Typed at a prompt, cmd's command line
rem does not name this file. Its quotes go first: they would break the if.
set "started=:%cmdcmdline%"
set "started=%started:"=%"
if /i not "%started:train.bat=%"=="%started%" pause
exit /b %status%
