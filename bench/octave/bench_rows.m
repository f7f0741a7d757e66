function plans = bench_rows(quick)
% The table's rows, read from bench_rows.csv beside this file. Training: kind, data family, n, N, p,
% margin, max_list_presentations.
% Recall adds P and where the patterns lie: 'near' (drawn like the training set, mostly inside
% spheres) or 'far' (three times as spread, mostly labelled by the 1-NN rule); its nodes come
% from the training row with the same first seven entries (or an untimed training run).
% 'target' marks the reported cases. --quick divides N by 10 (the digits set stays whole) and P
% by 20.
  fid = fopen(fullfile(fileparts(mfilename('fullpath')), 'bench_rows.csv'));
  columns = textscan(fid, '%s %s %f %f %f %f %f %f %s %s', 'Delimiter', ',', 'HeaderLines', 1);
  fclose(fid);
  table = [columns{1:2}, num2cell([columns{3:8}]), columns{9:10}];
  fields = {'kind', 'family', 'n', 'N', 'p', 'margin', 'passes', 'P', 'patterns', 'label'};
  plans = cell2struct(table, fields, 2)';
  for k = 1:numel(plans)
    if quick && !strcmp(plans(k).family, 'digits')
      plans(k).N = plans(k).N / 10;
    end
    if quick
      plans(k).P = plans(k).P / 20;
    end
    plans(k).name = sprintf('%s %s n=%d N=%d p=%g margin=%g P=%d %s %s', plans(k).kind, ...
        plans(k).family, plans(k).n, plans(k).N, plans(k).p, plans(k).margin, plans(k).P, ...
        plans(k).patterns, plans(k).label);
  end
end
