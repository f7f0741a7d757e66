"""The README's Python example runs as printed, from the repository root."""
import pathlib
import re
import runpy

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_readme_python_example(tmp_path, monkeypatch, capsys):
    readme = (ROOT / "README.md").read_text()
    section = readme[readme.index("\n## Python\n"):]
    example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    script = tmp_path / "example.py"
    script.write_text(example)
    monkeypatch.chdir(ROOT)
    runpy.run_path(str(script), run_name="__main__")
    out = capsys.readouterr().out
    assert re.search(r"\{'rmax': .+\} test accuracy 0\.9\d\d", out)
    assert "Dask labels equal: True" in out
