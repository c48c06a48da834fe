' After DllUnregisterServer the ProgID no longer creates anything: prints
' ZARN-UNREGISTERED-OK when CreateObject fails with "ActiveX component can't
' create object" (429).
Option Explicit
Dim o, number
On Error Resume Next
Set o = CreateObject("ZarnAddressParser.ZarnAddress")
number = Err.Number
On Error GoTo 0
If number = 429 Then
  WScript.Echo "ZARN-UNREGISTERED-OK"
Else
  WScript.Echo "FAIL: CreateObject after unregistering gave error " & number
End If
