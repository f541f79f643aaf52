unit U;
interface
uses A, { B
} C;
implementation
uses D;
initialization
  X;
finalization
  Y;
end.
