function make_sphnet(outdir)
% MAKE_SPHNET  Build sphnet_learn, sphnet_recall and sphnet_engine (behind sphnet_fit and
% sphnet_predict) from the C++ sources, in MATLAB or Octave.
%   MAKE_SPHNET builds the MEX functions into the folder of this file, beside their help files.
%   MAKE_SPHNET(OUTDIR) builds them into OUTDIR and copies the help files, sphnet_fit.m,
%   sphnet_predict.m and their private helpers there.
%   Then addpath that folder. Needs a C++17 compiler: MATLAB's `mex -setup C++` chooses it;
%   Octave uses the one mkoctfile was built with.
%
%   Each module gets its own copy of the shared core (core/host, core/model, core/search, core/work), its own procedure and entry
%   point (learn/*.cpp or recall/*.cpp) and the host services for the running host. Only
%   mexFunction is exported, so the two modules never share their operation counters.
%
%   See also SPHNET_LEARN, SPHNET_RECALL.

here = fileparts(mfilename('fullpath'));
root = fileparts(here);
if nargin < 1
  outdir = here;
end
if ~exist(outdir, 'dir')
  mkdir(outdir);
end
old_dir = cd(outdir);  % an absolute path, for the messages
outdir = pwd;
cd(old_dir);
in_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
% MATLAB on Windows may build with MSVC or with MinGW's g++, which takes the GNU options.
msvc = ~in_octave && ispc && selected_compiler_is_msvc();

core_folders = {'host', 'model', 'search', 'work'};
core = {};
for f = 1:numel(core_folders)
  core = [core, sources(root, fullfile('core', core_folders{f}))];
end
if in_octave
  host = {fullfile(root, 'core', 'host', 'per_host', 'host_octave.cpp')};
else
  host = {fullfile(root, 'core', 'host', 'per_host', 'host_matlab.cpp')};
  if msvc  % MSVC knows no __attribute__; the marker is a resource there
    core = core(cellfun(@isempty, strfind(core, 'version_marker')));
  end
end
host{end + 1} = fullfile(root, 'core', 'host', 'per_host', 'heap_malloc.cpp');
includes = [cellfun(@(f) ['-I' fullfile(root, 'core', f)], core_folders, 'UniformOutput', false), ...
            {['-I' fullfile(root, 'learn')], ['-I' fullfile(root, 'recall')]}];

% The engine behind sphnet_fit and sphnet_predict takes both procedures without their entry points.
procedures = [sources(root, 'learn'), sources(root, 'recall')];
procedures = procedures(cellfun(@isempty, regexp(procedures, '_mex\.cpp$')));
modules = {'learn', [sources(root, 'learn'), core, host]; ...
           'recall', [sources(root, 'recall'), core, host]; ...
           'engine', [sources(root, 'engine'), procedures, core, host]};
for m = 1:size(modules, 1)
  name = ['sphnet_' modules{m, 1}];
  files = modules{m, 2};
  fprintf('Building %s\n', fullfile(outdir, [name '.' mexext]));
  if in_octave
    flags = [mkoctfile('-p', 'CXXFLAGS') ' -std=c++17 -fvisibility=hidden -fvisibility-inlines-hidden'];
    old_flags = getenv('CXXFLAGS');
    setenv('CXXFLAGS', flags);
    [output, status] = mkoctfile('--mex', includes{:}, '-o', fullfile(outdir, [name '.mex']), files{:});
    setenv('CXXFLAGS', old_flags);
    if status ~= 0
      error('make_sphnet: building %s failed:\n%s', name, output);
    end
  elseif msvc
    mex('-R2017b', 'COMPFLAGS=$COMPFLAGS /std:c++17', includes{:}, '-lut', '-outdir', outdir, ...
        '-output', name, files{:});
  else
    mex('-R2017b', 'CXXFLAGS=$CXXFLAGS -std=c++17 -fvisibility=hidden', includes{:}, '-lut', ...
        '-outdir', outdir, '-output', name, files{:});
  end
end
if ~strcmp(outdir, here)
  for name = {'sphnet_learn', 'sphnet_recall', 'sphnet_engine', 'sphnet_fit', 'sphnet_predict'}
    copyfile(fullfile(here, [name{1} '.m']), outdir);
  end
  copyfile(fullfile(here, 'private'), fullfile(outdir, 'private'));  % their helpers
end
fprintf('Done: addpath(''%s'')\n', outdir);
end

function files = sources(root, folder)
% Every C++ source of one folder, with full paths.
listing = dir(fullfile(root, folder, '*.cpp'));
files = cellfun(@(name) fullfile(root, folder, name), {listing.name}, 'UniformOutput', false);
end

function msvc = selected_compiler_is_msvc()
% Whether MATLAB's mex builds C++ with Microsoft's compiler (else MinGW's g++).
selected = mex.getCompilerConfigurations('C++', 'Selected');
msvc = isempty(selected) || strcmp(selected(1).Manufacturer, 'Microsoft');
end
