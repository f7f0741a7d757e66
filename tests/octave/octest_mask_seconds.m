% OCTEST_MASK_SECONDS  The console text with the whole-second figure of each summary replaced by
% '#': it depends on where the clock's second boundaries fall during the run.
function text = octest_mask_seconds(text)
  text = regexprep(text, ' in -?\d+ seconds', ' in # seconds');
end
