"""Offline validation against the STAC and GeoJSON schemas kept in tests/stac-schemas.

Every schema is found by its $id, so references between them resolve without
the network; PROJ's projjson schema (referenced by the projection extension)
comes from Debian's proj-data.
"""

import json
import os

SCHEMAS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "stac-schemas")


def _store():
    store = {}
    for root, _, files in os.walk(SCHEMAS):
        for name in files:
            if name.endswith(".json"):
                with open(os.path.join(root, name)) as f:
                    schema = json.load(f)
                if "$id" in schema:
                    store[schema["$id"].rstrip("#")] = schema
    projjson = "/usr/share/proj/projjson.schema.json"
    if os.path.exists(projjson):
        with open(projjson) as f:
            store["https://proj.org/schemas/v0.5/projjson.schema.json"] = json.load(f)
    return store


def validator_for(schema_id):
    import jsonschema
    store = _store()
    resolver = jsonschema.RefResolver.from_schema(store[schema_id], store=store)
    return jsonschema.Draft7Validator(store[schema_id], resolver=resolver)


def core_schema(kind):
    """The $id of STAC 1.0.0's Item, Catalog or Collection schema ("item", "catalog", "collection")."""
    with open(os.path.join(SCHEMAS, "core", kind, kind + ".json")) as f:
        return json.load(f)["$id"].rstrip("#")


def errors(document, schema_id):
    """The messages of every way document breaks the schema (and its extensions, for an Item)."""
    found = [e.message for e in validator_for(schema_id).iter_errors(document)]
    for extension in document.get("stac_extensions", []):
        found += [extension + ": " + e.message for e in validator_for(extension).iter_errors(document)]
    return sorted(found)
