program Hello;

{$APPTYPE CONSOLE}

uses
  SysUtils,
  Greeting in 'src\Greeting.pas',
  Logger in 'src\Logger.pas', // writes to the console
  Config;

begin
  Log(Greet(UserName));
end.
