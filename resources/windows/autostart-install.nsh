; Asked once, during installation; a silent installation says no.
MessageBox MB_YESNO|MB_ICONQUESTION "Start Kelvane each time you sign in?" /SD IDNO IDNO kelvane_no_autostart
WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Kelvane" '"$INSTDIR\kelvane.exe"'
kelvane_no_autostart:
