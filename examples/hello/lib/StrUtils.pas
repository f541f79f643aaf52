unit StrUtils;

interface

function Reverse(const S: string): string;

implementation

function Reverse(const S: string): string;
var I: Integer;
begin
  Result := '';
  for I := Length(S) downto 1 do Result := Result + S[I];
end;

end.
