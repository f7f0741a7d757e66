function opts = option_pairs(fn, args, opts, check, known, show_value)
% OPTION_PAIRS  Internal: the Name, Value pairs ARGS of sphnet_FN, read into the struct OPTS.
%   [OK, EXPECTED, FIELD, KEPT] = CHECK(NAME, VALUE), NAME in lower case: whether VALUE suits
%   the option, what it must be (for the message), the field of OPTS that keeps it ('' for an
%   unknown name) and the value kept. KNOWN lists the options for the message on an unknown
%   name; SHOW_VALUE adds the value given to the message on a bad one. Pairs are read in turn,
%   so the first fault raises: sphnet:FN:badOption (odd count, a name not a string, unknown
%   name) or sphnet:FN:badOptionValue.
  bad_option = ['sphnet:' fn ':badOption'];
  if mod(numel(args), 2) ~= 0
    error(bad_option, 'sphnet_%s: options must come in Name, Value pairs.', fn);
  end
  for k = 1:2:numel(args)
    name = args{k};
    value = args{k + 1};
    if ~(ischar(name) && rows(name) == 1)
      error(bad_option, 'sphnet_%s: option names must be strings (option %d).', fn, (k + 1) / 2);
    end
    [ok, expected, field, kept] = check(lower(name), value);
    if isempty(field)
      error(bad_option, 'sphnet_%s: unknown option ''%s''; options are %s.', fn, name, known);
    elseif ~ok && show_value
      error([bad_option 'Value'], 'sphnet_%s: option ''%s'' must be %s; got %s.', fn, name, ...
            expected, describe(value));
    elseif ~ok
      error([bad_option 'Value'], 'sphnet_%s: option ''%s'' must be %s.', fn, name, expected);
    end
    opts.(field) = kept;
  end
end

% A short account of a value for messages.
function text = describe(value)
  if ischar(value) && rows(value) <= 1
    text = sprintf('''%s''', value);
  elseif (isnumeric(value) || islogical(value)) && isscalar(value) && isreal(value)
    text = sprintf('%s %g', class(value), value);
  else
    text = sprintf('a %dx%d %s', rows(value), columns(value), class(value));
  end
end
