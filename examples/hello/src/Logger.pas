unit Logger;

interface

uses StrUtils; { Config is used only by the implementation }

procedure Log(const Text: string);

implementation

var
  Lines: Integer;

procedure Log(const Text: string);
begin
  Inc(Lines);
  Writeln(Lines, ': ', Text);
end;

initialization
  Lines := 0;
finalization
  Writeln(Lines, ' lines logged');
end.
