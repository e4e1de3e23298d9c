"""Benchmark corpora, generated deterministically so every run measures the same data."""

import random


def _service(rng, i):
    return {
        "name": f"service-{i}",
        "enabled": rng.random() < 0.8,
        "replicas": rng.randint(1, 12),
        "image": f"registry.example.com/team/app-{i % 37}:{rng.randint(1, 99)}.{rng.randint(0, 20)}",
        "cpu": round(rng.uniform(0.1, 4.0), 2),
        "ports": [rng.randint(1024, 65535) for _ in range(rng.randint(1, 4))],
        "env": {f"VAR_{k}": f"value-{rng.randint(0, 10**6)}" for k in range(rng.randint(2, 6))},
        "labels": {"tier": rng.choice(["web", "db", "cache", "batch"]), "owner": f"team-{i % 9}"},
        "healthcheck": {"path": "/healthz", "interval": rng.randint(5, 60), "timeout": None},
    }


def config_data(target_bytes, seed=1):
    """A configuration-like document of roughly target_bytes of YAML."""
    rng = random.Random(seed)
    services = []
    # About 420 bytes of block YAML per service.
    for i in range(max(1, target_bytes // 420)):
        services.append(_service(rng, i))
    return {"version": 3, "defaults": {"retries": 3, "log_level": "info"}, "services": services}


def manifest_docs(count, seed=2):
    rng = random.Random(seed)
    docs = []
    for i in range(count):
        docs.append({
            "apiVersion": "apps/v1",
            "kind": "Deployment",
            "metadata": {"name": f"app-{i}", "namespace": "default", "labels": {"app": f"app-{i}"}},
            "deploy": {
                "replicas": rng.randint(1, 5),
                "template": {"deploy": {"containers": [
                    {"name": "main", "image": f"app:{i}", "args": ["--port", str(8000 + i)]},
                ]}},
            },
        })
    return docs


def string_heavy_yaml(count, seed=3):
    """Block scalars, quoted strings with escapes, long plain text."""
    rng = random.Random(seed)
    words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor".split()
    parts = []
    for i in range(count):
        line = " ".join(rng.choice(words) for _ in range(12))
        parts.append(
            f"entry{i}:\n"
            f"  literal: |\n    {line}\n    {line}\n\n    tail {i}\n"
            f"  folded: >-\n    {line}\n    {line}\n"
            f'  double: "tab\\there \\u00e9 {line} \\"quoted\\""\n'
            f"  single: 'it''s {line}'\n"
            f"  plain: {line}\n"
        )
    return "".join(parts)


def anchors_yaml(count):
    """Anchors, aliases and merge keys, as in shared configuration defaults."""
    parts = ["base: &base\n  retries: 3\n  timeout: 30\n  tags: [a, b, c]\n"]
    for i in range(count):
        parts.append(f"job{i}:\n  <<: *base\n  name: job-{i}\n  shared: *base\n")
    return "".join(parts)
