unit Greeting;

interface

uses
  Config, Logger;

function Greet(const Name: string): string;

implementation

uses
  SysUtils;

function Greet(const Name: string): string;
begin
  Result := Format('%s, %s!', [Salutation, Name]);
  Log('greeting built');
end;

initialization
  Log('Greeting ready');

end.
