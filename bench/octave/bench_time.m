function [seconds, outputs] = bench_time(work, nout, cfg)
% Median wall time of repeated calls of work() (cfg.repeats at most, fewer once the calls have
% taken cfg.repeat_seconds in all), and the outputs of the last call.
  times = [];
  outputs = cell(1, nout);
  do
    tic;
    [outputs{:}] = work();
    times(end + 1) = toc;
  until numel(times) >= cfg.repeats || sum(times) >= cfg.repeat_seconds
  seconds = median(times);
end
