function value = bench_if(condition, yes, no)
% condition ? yes : no, for building row texts.
  if condition
    value = yes;
  else
    value = no;
  end
end
