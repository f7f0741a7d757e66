## sphnet_soak (TOOLBOX, MESSAGE_FILE, CALLS)
## Makes CALLS calls of sphnet_learn and sphnet_recall with random valid and invalid arguments
## (fixed seed) in this one Octave process, then repeats one large call of each many times.
## Every error must be one of the documented messages, every success must return well-shaped
## outputs, and the resident memory must not keep growing: over the random calls after a
## warm-up (a loose bound: the heap's high-water mark still rises as rarer large calls come),
## and over the repeated calls (a tight bound: identical calls reuse the same memory, so a leak
## of a few kB per call shows). Raises an error (non-zero exit) on the first broken rule.
function sphnet_soak (toolbox, message_file, calls)
  addpath (toolbox);
  rand ("state", 20261208);
  randn ("state", 20261208);
  formats = documented_formats (message_file);
  warmup = min (2000, floor (calls / 5));
  growth_bound_kb = 16384;
  repeats = 300;
  repeat_bound_kb = 1024;

  counts = struct ("learn_ok", 0, "learn_err", 0, "recall_ok", 0, "recall_err", 0);
  nodes = {zeros(0, 3), zeros(0, 1)};  # the last trained node set, for recall
  rss_start = 0;
  started = tic ();
  for call = 1:calls
    if (call == warmup + 1)
      rss_start = resident_kb ();
    endif
    if (rand () < 0.5)
      [args, nout] = learn_arguments ();
      [ok, out] = invoke (@sphnet_learn, "sphnet_learn", args, nout, formats);
      if (ok)
        counts.learn_ok++;
        check_learn_outputs (out, args);
        nodes = out(1:2);
      else
        counts.learn_err++;
      endif
    else
      [args, nout] = recall_arguments (nodes);
      [ok, out] = invoke (@sphnet_recall, "sphnet_recall", args, nout, formats);
      if (ok)
        counts.recall_ok++;
        check_recall_outputs (out, args);
      else
        counts.recall_err++;
      endif
    endif
  endfor
  rss_end = resident_kb ();
  seconds = toc (started);

  printf ("soak: %d calls in %.1f s (learn %d ok, %d errors; recall %d ok, %d errors)\n", calls,
          seconds, counts.learn_ok, counts.learn_err, counts.recall_ok, counts.recall_err);
  printf ("soak: VmRSS after %d warm-up calls %d kB, at the end %d kB, growth %d kB (bound %d kB)\n",
          warmup, rss_start, rss_end, rss_end - rss_start, growth_bound_kb);
  if (rss_end - rss_start >= growth_bound_kb)
    error ("soak: resident memory grew by %d kB over %d calls", rss_end - rss_start, calls - warmup);
  endif

  ## The same large training and recall, valid and failing, again and again.
  X = round (randn (500, 10) * 4) / 2;
  y = randi (3, 500, 1);
  [Nodes, NodeLabels, Presentations] = sphnet_learn (X, y, 2, 2, 0.1, 2, 0);
  Q = round (randn (5000, 10) * 4) / 2;
  bad = ones (5000, 9);
  ## A few rounds first: the C library keeps freed blocks of sizes it has seen for reuse, so
  ## the first calls of a new size grow the resident set once; a leak grows it every time.
  for i = 1:10
    [Nodes, NodeLabels, Presentations] = sphnet_learn (X, y, 2, 2, 0.1, 2, 0);
    Labels = sphnet_recall (Nodes, NodeLabels, 2, Q, -1, 1, 0);
  endfor
  repeat_start = resident_kb ();
  for i = 1:repeats
    [Nodes, NodeLabels, Presentations] = sphnet_learn (X, y, 2, 2, 0.1, 2, 0);
    Labels = sphnet_recall (Nodes, NodeLabels, 2, Q, -1, 1, 0);
    try
      sphnet_recall (Nodes, NodeLabels, 2, bad, -1, 1, 0);
      error ("soak: a 9-column Patterns was accepted for 10-column nodes");
    catch err
      if (isempty (strfind (err.message, "4th input argument (Patterns) must be of type")))
        rethrow (err);
      endif
    end_try_catch
  endfor
  repeat_end = resident_kb ();
  printf ("soak: %d repeats of a 500x10 training and a 5000-pattern recall: VmRSS %d kB before, %d kB after, growth %d kB (bound %d kB)\n",
          repeats, repeat_start, repeat_end, repeat_end - repeat_start, repeat_bound_kb);
  if (repeat_end - repeat_start >= repeat_bound_kb)
    error ("soak: resident memory grew by %d kB over %d repeated calls", repeat_end - repeat_start, 3 * repeats);
  endif
  if (min ([counts.learn_ok, counts.learn_err, counts.recall_ok, counts.recall_err]) == 0)
    error ("soak: some outcome never happened; the argument mix is broken");
  endif
endfunction

## The documented errors: per line an identifier, and the text as an anchored regular
## expression; %d is a whole number.
function formats = documented_formats (file)
  lines = strsplit (fileread (file), "\n");
  formats = struct ("id", {}, "text", {});
  for i = 1:numel (lines)
    line = lines{i};
    if (isempty (line) || line(1) == "#")
      continue;
    endif
    [id, text] = strtok (line, " ");
    text = ["^" strrep(regexptranslate("escape", text(2:end)), "%d", "-?[0-9]+") "$"];
    formats(end+1) = struct ("id", id, "text", text);
  endfor
endfunction

function kb = resident_kb ()
  status = fileread ("/proc/self/status");
  kb = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
endfunction

## Calls fn with nout outputs; an error must be "<name>: " followed by a documented message,
## with its documented identifier.
function [ok, out] = invoke (fn, name, args, nout, formats)
  out = cell (1, nout);
  try
    if (nout == 0)
      fn (args{:});
    else
      [out{1:nout}] = fn (args{:});
    endif
    ok = true;
  catch err
    ok = false;
    prefix = [name ": "];
    if (! strncmp (err.message, prefix, numel (prefix)))
      error ("soak: %s failed without its prefix: %s", name, err.message);
    endif
    text = err.message(numel (prefix)+1:end);
    documented = arrayfun (@(f) strcmp (f.id, err.identifier) && ! isempty (regexp (text, f.text, "once")), formats);
    if (! any (documented))
      error ("soak: undocumented error from %s: %s %s", name, err.identifier, err.message);
    endif
  end_try_catch
endfunction

## A bad value of some kind for any argument slot.
function v = bad_value ()
  choices = {[], "abc", int8(3), single(2), {1}, struct("a", 1), true, 1+2i, sparse([1 0 2]), ...
             zeros(2, 2, 2), NaN, Inf, -Inf, -1, 0.5, 4, 1e300, ones(3, 3), @sin, zeros(1, 0), ...
             uint32(7), -0.5, 2^31, -2^31-1, 3.9};
  v = choices{randi(numel (choices))};
endfunction

function v = pick (values)
  v = values(randi (numel (values)));
endfunction

function [args, nout] = learn_arguments ()
  if (rand () < 0.1)
    N = randi ([300 600]);  # large enough that a per-call leak of the inputs would show
    n = randi ([8 12]);
  else
    N = randi ([0 30]);
    n = randi ([0 5]);
  endif
  X = round (randn (N, n) * 4) / 2;
  y = randi (3, N, 1);
  if (rand () < 0.1)
    y(randi (max (N, 1))) = 1.5;
    y = y(1:N);
  endif
  if (rand () < 0.5)
    y = y.';
  endif
  args = {X, y, pick([1 2 Inf 1.5 3]), pick([0 0.25 0.5 1 2 Inf]), pick([0 0 0.1 0.3]), ...
          randi(4), 0};
  if (N > 100)
    args{6} = 2;  # bounded work for the large sets
  endif
  nout = 3;
  [args, nout] = corrupt (args, nout, 3);
  ## A set that never converges runs to the pass limit, as asked: keep huge limits for empty sets.
  if (numel (args) >= 6 && N > 0 && isnumeric (args{6}) && ! isempty (args{6}) ...
      && real (args{6}(1)) > 10)
    args{6}(1) = 10;
  endif
endfunction

function [args, nout] = recall_arguments (nodes)
  templates = nodes{1};
  labels = nodes{2};
  if (rand () < 0.3)
    M = randi ([0 12]);
    K = randi ([1 5]);
    templates = [round(randn(M, K - 1) * 4) / 2, abs(randn (M, 1))];
    labels = randi (3, M, 1);
  endif
  n = columns (templates) - 1;
  P = randi ([0 40]);
  if (rand () < 0.03)
    P = randi ([4096 6000]);  # enough patterns for recall to share the work among threads
  endif
  args = {templates, labels, pick([1 2 Inf 1.5 3]), round(randn (P, n) * 4) / 2, ...
          pick([-1 0 7]), randi([0 1]), 0};
  nout = 1;
  [args, nout] = corrupt (args, nout, 1);
endfunction

## Leaves most calls valid; otherwise spoils one argument, the argument count or the output count.
function [args, nout] = corrupt (args, nout, expected_out)
  r = rand ();
  if (r < 0.55)
    return;
  elseif (r < 0.85)
    args{randi(numel (args))} = bad_value ();
  elseif (r < 0.92)
    k = randi ([0 9]);
    if (k < numel (args))
      args = args(1:k);
    else
      args(end+1:k) = {1};
    endif
  else
    nout = pick (setdiff (0:4, expected_out));
  endif
endfunction

function check_learn_outputs (out, args)
  [Nodes, NodeLabels, Presentations] = out{:};
  n = columns (args{1});  # the Patterns actually passed, which may differ from the plan
  k = rows (Nodes);
  if (columns (Nodes) != n + 1 || ! isequal (size (NodeLabels), [k 1]) ...
      || ! isequal (size (Presentations), [1 1]) || ! isa (Nodes, "double"))
    error ("soak: sphnet_learn returned malformed outputs");
  endif
  if ((rows (args{1}) > 0) != (k > 0) || any (isnan (Nodes(:))))
    error ("soak: sphnet_learn returned an impossible node set");
  endif
endfunction

function check_recall_outputs (out, args)
  Labels = out{1};
  if (! isequal (size (Labels), [rows(args{4}) 1]) || ! isa (Labels, "double"))
    error ("soak: sphnet_recall returned malformed labels");
  endif
endfunction
