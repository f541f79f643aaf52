program P;
uses
  A in 'a.pas' {x},
  B (* y *), // z
  "C D";
begin
end.
