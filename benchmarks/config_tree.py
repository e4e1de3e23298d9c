"""A Home Assistant style configuration tree, and a benchmark of loading it.

    python benchmarks/config_tree.py [--packages N] [--automations N]

Writes a tree (root file, packages through !include_dir_named with one
subdirectory, automations through !include_dir_merge_list, scripts through
!include_dir_merge_named, sensors through !include_dir_list, secrets at two
levels, environment variables with defaults) to a temporary directory and
times annotated quarvel.loads against annotatedyaml.load_yaml (the Home
Assistant loader; its 1.x releases need Python 3.13) on the same tree.
"""

import argparse
import os
import pathlib
import sys
import tempfile
import time

ROOT_FILE = """\
homeassistant:
  name: Home
  latitude: !secret latitude
  unit_system: metric
  packages: !include_dir_named packages
  customize: !include customize.yaml
http:
  server_port: !env_var QV_BENCH_PORT 8123
  api_password: !secret http_password
  trusted:
    - 10.0.0.1
    - 10.0.0.2
automation: !include_dir_merge_list automations
script: !include_dir_merge_named scripts
sensor: !include_dir_list sensors
"""

PACKAGE = """\
input_boolean:
  flag_{i}:
    name: Flag {i}
    initial: true
mqtt:
  broker: broker-{i}.local
  password: !secret mqtt_password
template:
  - sensor:
      - name: Temperature {i}
        state: "{{{{ states('sensor.raw_{i}') | float * 1.5 }}}}"
        unit_of_measurement: !env_var QV_BENCH_UNIT degrees C
        attributes:
          room: room {i}
          floor: {floor}
"""

AUTOMATIONS = """\
- id: auto_{i}_a
  alias: Lights on {i}
  trigger:
    - platform: state
      entity_id: binary_sensor.motion_{i}
      to: "on"
  action:
    - service: light.turn_on
      target:
        entity_id: light.room_{i}
      data:
        brightness: {b}
- id: auto_{i}_b
  alias: Lights off {i}
  trigger:
    - platform: state
      entity_id: binary_sensor.motion_{i}
      to: "off"
      for: "00:05:00"
  action:
    - service: light.turn_off
      target:
        entity_id: light.room_{i}
"""

SCRIPT = """\
script_{i}:
  alias: Script {i}
  sequence:
    - service: notify.notify
      data:
        message: Hello {i}
    - delay: 5
"""

SENSOR = """\
platform: template
name: sensor {i}
value: {i}
"""


def make_tree(root, packages=300, automations=150, scripts=50, sensors=50):
    """Writes the tree under `root` (a pathlib.Path) and returns the root file's path."""
    files = {
        "configuration.yaml": ROOT_FILE,
        "secrets.yaml": "latitude: 52.37\nhttp_password: top-secret\nmqtt_password: root-pw\n",
        "customize.yaml": "light.kitchen:\n  friendly_name: Kitchen\n",
        "packages/secrets.yaml": "mqtt_password: package-pw\n",
    }
    for i in range(packages):
        sub = "packages/more/" if i % 10 == 0 else "packages/"
        files[f"{sub}pkg_{i:04d}.yaml"] = PACKAGE.format(i=i, floor=i % 4)
    for i in range(automations):
        files[f"automations/auto_{i:04d}.yaml"] = AUTOMATIONS.format(i=i, b=i % 255)
    for i in range(scripts):
        files[f"scripts/script_{i:04d}.yaml"] = SCRIPT.format(i=i)
    for i in range(sensors):
        files[f"sensors/sensor_{i:04d}.yaml"] = SENSOR.format(i=i)
    for rel, text in files.items():
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return root / "configuration.yaml"


def load_quarvel(path):
    import quarvel

    option = (quarvel.OPT_ANNOTATED | quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS
              | quarvel.OPT_ENV_VAR | quarvel.OPT_PYYAML_COMPAT | quarvel.OPT_INCLUDE_DIR_RECURSIVE)
    return quarvel.loads(path.read_bytes(), option=option, include_dir=str(path.parent),
                         root_path=str(path))


def load_home_assistant(path):
    from annotatedyaml.loader import Secrets, load_yaml

    return load_yaml(str(path), Secrets(path.parent))


def read_every_file(root):
    """The bare cost of the tree: list its folders and read each file once."""
    for folder, _, names in os.walk(root):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                f.read()


def best_of(fn, arg, repeat):
    """Best wall-clock and best CPU time of `repeat` runs, in seconds."""
    wall = cpu = float("inf")
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        fn(arg)
        wall = min(wall, time.perf_counter() - start)
        cpu = min(cpu, time.process_time() - start_cpu)
    return wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--packages", type=int, default=300)
    parser.add_argument("--automations", type=int, default=150)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    os.environ.pop("QV_BENCH_PORT", None)
    os.environ.pop("QV_BENCH_UNIT", None)
    with tempfile.TemporaryDirectory() as tmp:
        path = make_tree(pathlib.Path(tmp), args.packages, args.automations)
        count = sum(1 for _ in pathlib.Path(tmp).rglob("*.yaml"))
        ours = best_of(load_quarvel, path, args.repeat)
        print(f"{count} files, Python {sys.version.split()[0]}")
        print(f"quarvel annotated loads: {ours[0] * 1000:8.2f} ms wall, {ours[1] * 1000:8.2f} ms CPU")
        bare = best_of(read_every_file, tmp, args.repeat)
        print(f"listing and reading the files: {bare[0] * 1000:8.2f} ms wall "
              f"(quarvel takes {ours[0] / bare[0]:.1f}x)")
        try:
            import annotatedyaml  # noqa: F401
        except ImportError:
            print("annotatedyaml not importable here (its 1.x releases need Python 3.13)")
            return
        from importlib.metadata import version

        assert load_quarvel(path) == load_home_assistant(path)
        theirs = best_of(load_home_assistant, path, args.repeat)
        print(f"annotatedyaml {version('annotatedyaml')}:   {theirs[0] * 1000:8.2f} ms wall, "
              f"{theirs[1] * 1000:8.2f} ms CPU")
        print(f"ratio: {theirs[0] / ours[0]:.1f}x wall, {theirs[1] / ours[1]:.1f}x CPU")


if __name__ == "__main__":
    main()
