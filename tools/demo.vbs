' Creates Tamberlux.Main2 late-bound, as the product's programs do, and uses it.
Option Explicit
Dim main2, version
Set main2 = CreateObject("Tamberlux.Main2")
If Err.Number <> 0 Then
  WScript.Echo "Tamberlux.Main2 could not be created: " & Err.Description
  WScript.Quit 1
End If
WScript.Echo "Created Tamberlux.Main2"
version = "12.0"
main2.DeleteCorruptedDataFolder version
WScript.Echo "DeleteCorruptedDataFolder " & version & ": done"
main2.Quit
Set main2 = Nothing
WScript.Echo "Released"
