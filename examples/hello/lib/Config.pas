unit Config;

interface

uses
  Logger;

const
  Salutation = 'Hello';

function UserName: string;

implementation

function UserName: string;
begin
  Result := 'world';
end;

begin
  Log('Config loaded');
end.
