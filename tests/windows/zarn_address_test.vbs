' Calls the registered ZarnAddressParser.ZarnAddress by its ProgID, as a
' script caller does, and compares every answer with the table that the
' Linux build wrote (zarn_expected_answers, converted to UTF-16).
'
'   cscript //nologo zarn_address_test.vbs EXPECTED-UTF16.tsv
'
' Rows of state "present" are checked with the reference database in place;
' for the rows of state "missing" the script moves the database away, and
' puts it back at the end. cscript ends with status 0 even after a script
' error, so success is the last line "ZARN-VBS-TESTS-PASSED".
' Script callers pass the arguments as parenthesised expressions: a script
' variable is a Variant, which a typed by-reference parameter refuses.
Option Explicit

Const DatabasePath = "c:\wendle\vbdll\qordatavb.DAT"
Const AwayPath = "c:\wendle\vbdll\qordatavb.DAT.away"
Const ProgId = "ZarnAddressParser.ZarnAddress"

Dim fso, checks, faults
Set fso = CreateObject("Scripting.FileSystemObject")
checks = 0
faults = 0

Sub Check(ok, what)
  checks = checks + 1
  If Not ok Then
    faults = faults + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Function Shorten(text)
  If Len(text) > 60 Then
    Shorten = Left(text, 60) & "... (" & Len(text) & " characters)"
  Else
    Shorten = text
  End If
End Function

' One call, compared with the expected error number and answer or message.
Sub CheckCall(o, method, kind, address, number, text)
  Dim r, gotNumber, gotText, what
  what = method & "(" & Shorten(address) & ", " & kind & ")"
  r = "(no result)"
  On Error Resume Next
  Err.Clear
  Select Case method
    Case "AddressSegment"
      r = o.AddressSegment((address), (kind))
    Case "Street"
      r = o.Street((address))
    Case "StreetType"
      r = o.StreetType((address))
    Case "StreetNumber"
      r = o.StreetNumber((address))
    Case "Direction"
      r = o.Direction((address))
    Case "Unit"
      r = o.Unit((address))
    Case Else
      Err.Raise 5, "test", "unknown method " & method
  End Select
  gotNumber = Err.Number
  gotText = Err.Description
  On Error GoTo 0
  If number = 0 Then
    Check gotNumber = 0, what & ": failed with " & gotNumber & " " & gotText
    Check TypeName(r) = "String", what & ": result is a " & TypeName(r)
    Check r = text, what & ": got [" & Shorten(r) & "], want [" & Shorten(text) & "]"
  Else
    Check gotNumber = number, what & ": error " & gotNumber & ", want " & number
    Check gotText = text, what & ": message [" & gotText & "], want [" & text & "]"
    Check r = "(no result)", what & ": a failed call delivered a result"
  End If
End Sub

' A script variable passed as it is, not as an expression: the typed
' by-reference parameter refuses the Variant ("Type mismatch", 13) and the
' variable keeps its value.
Sub CheckVariableArguments(o)
  Dim address, kind, r, gotNumber
  address = "123 Main St. N"
  kind = 2
  On Error Resume Next
  Err.Clear
  r = o.Street(address)
  gotNumber = Err.Number
  Err.Clear
  On Error GoTo 0
  Check gotNumber = 13, "a Variant variable for AddressString: error " & gotNumber & ", want 13"
  Check address = "123 Main St. N", "the caller's variable changed"
  On Error Resume Next
  Err.Clear
  r = o.AddressSegment((address), kind)
  gotNumber = Err.Number
  On Error GoTo 0
  Check gotNumber = 13, "a Variant variable for SegmentType: error " & gotNumber & ", want 13"
  Check kind = 2 And TypeName(kind) = "Integer", "the caller's SegmentType variable changed"
End Sub

Sub Main()
  Dim stream, line, f, o, state, moved, n
  If WScript.Arguments.Count <> 1 Then
    WScript.Echo "usage: cscript //nologo zarn_address_test.vbs EXPECTED-UTF16.tsv"
    Exit Sub
  End If
  Set o = CreateObject(ProgId)
  CheckVariableArguments o
  state = "present"
  moved = False
  n = 0
  Set stream = fso.OpenTextFile(WScript.Arguments(0), 1, False, -1)
  Do While Not stream.AtEndOfStream
    line = stream.ReadLine
    f = Split(line, vbTab)
    If UBound(f) = 5 Then
      If f(0) <> state Then
        If f(0) <> "missing" Or moved Then
          Check False, "rows out of order at state " & f(0)
          Exit Do
        End If
        fso.MoveFile DatabasePath, AwayPath
        moved = True
        state = f(0)
      End If
      ' Every fifth address gets a fresh object: answers never depend on
      ' which object, or how many calls before, served them.
      n = n + 1
      If n Mod 70 = 0 Then Set o = CreateObject(ProgId)
      CheckCall o, f(1), CInt(f(2)), f(3), CLng(f(4)), f(5)
    End If
  Loop
  stream.Close
  If moved Then fso.MoveFile AwayPath, DatabasePath
  Check moved, "the table has rows for a missing database"
  Check checks > 100, "the table has rows"
  If faults = 0 Then
    WScript.Echo checks & " checks"
    WScript.Echo "ZARN-VBS-TESTS-PASSED"
  Else
    WScript.Echo faults & " of " & checks & " checks failed"
  End If
End Sub

Main
